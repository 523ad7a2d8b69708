// Writes the pieces of an SWF file: the bit-packed records (rectangles,
// matrices, shape records), the tags the player movies use, and the file
// header. Lengths and sizes in twips (1/20 pixel) unless a name says pixels.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace swf {

using Bytes = std::vector<std::uint8_t>;

// A value that does not fit the field the format gives it, or a record the
// format cannot express.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr int Twips(int pixels)
{
    return pixels * 20;
}

// Little-endian byte fields, as every non-bit field of the format.
class ByteWriter {
public:
    void U8(unsigned value);
    void U16(unsigned value);
    void S16(int value);
    void U32(std::uint32_t value);
    // NUL-terminated; SWF 6 and later read it as UTF-8.
    void String(std::string_view text);
    void Append(const Bytes& bytes);
    void PatchU16(std::size_t at, unsigned value);

    std::size_t Size() const { return data.size(); }
    const Bytes& Data() const { return data; }
    Bytes Take() { return std::move(data); }

private:
    Bytes data;
};

// Bit fields, most significant bit first, padded with zeros to a whole byte.
class BitWriter {
public:
    void Unsigned(std::uint32_t value, int bits);
    void Signed(std::int32_t value, int bits);
    void Align();
    Bytes Take();

private:
    Bytes data;
    int used = 0;  // bits used in the last byte
};

// Bits a signed or unsigned bit field needs to hold the value.
int SignedBits(std::int32_t value);
int UnsignedBits(std::uint32_t value);

struct Rect {
    int xMin = 0, xMax = 0, yMin = 0, yMax = 0;
};
void WriteRect(BitWriter& bits, const Rect& rect);

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
};
Rgba RgbFromHex(std::uint32_t rrggbb);

enum class TagCode : std::uint16_t {
    End = 0,
    ShowFrame = 1,
    SetBackgroundColor = 9,
    DoAction = 12,
    PlaceObject2 = 26,
    DefineShape3 = 32,
    DefineEditText = 37,
    DefineSprite = 39,
    DefineFont2 = 48,
    DefineVideoStream = 60,
    FileAttributes = 69,
};

// A tag with its header: the short form for bodies under 63 bytes, the long
// form otherwise.
Bytes Tag(TagCode code, const Bytes& body);

// A closed outline in twips: a start point and edges, each straight or a
// quadratic curve through a control point.
struct Point {
    int x = 0, y = 0;
};
struct Edge {
    Point to;
    bool curved = false;
    Point control;
};
struct Outline {
    Point start;
    std::vector<Edge> edges;
};

Outline RectangleOutline(const Rect& rect);
Outline RoundedRectangleOutline(const Rect& rect, int radius);
Outline PolygonOutline(const std::vector<Point>& points);

// One solid fill over one or more outlines.
Bytes DefineShape3(std::uint16_t id, Rgba fill, const std::vector<Outline>& outlines);

// Sprite with one frame holding the given control tags.
Bytes DefineSprite(std::uint16_t id, const std::vector<Bytes>& controlTags);

struct Placement {
    std::uint16_t depth = 1;
    std::uint16_t character = 0;
    Point at;  // translation, twips
    std::string name;
};
Bytes PlaceObject2(const Placement& placement);

// A font with no glyphs: text in it is drawn with the player's device font of
// that name ("_sans", "_serif", "_typewriter").
Bytes DefineDeviceFont(std::uint16_t id, std::string_view name);

struct EditText {
    std::uint16_t id = 0;
    Rect bounds;
    std::uint16_t fontId = 0;
    int fontHeight = 0;  // twips
    Rgba color;
    enum class Align : std::uint8_t { Left = 0, Right = 1, Center = 2 } align = Align::Left;
    std::string initialText;
};
// Read-only, not selectable, single-line text drawn with a device font.
Bytes DefineEditText(const EditText& text);

enum class VideoCodec : std::uint8_t { SorensonH263 = 2 };
// A video character without embedded frames, for a stream attached at run time.
Bytes DefineVideoStream(std::uint16_t id, int widthPixels, int heightPixels, VideoCodec codec);

Bytes FileAttributes(bool useNetwork);
Bytes SetBackgroundColor(Rgba color);
Bytes DoAction(const Bytes& actions);
Bytes ShowFrame();
Bytes End();

// The whole file: uncompressed ("FWS") header followed by the root tags; the
// frame count is the number of ShowFrame tags among them.
struct MovieHeader {
    std::uint8_t version = 8;
    int widthPixels = 0;
    int heightPixels = 0;
    double frameRate = 25;
};
Bytes MovieFile(const MovieHeader& header, const std::vector<Bytes>& rootTags);

}  // namespace swf
