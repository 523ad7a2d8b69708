#include "swfgen/SwfWriter.h"

#include <algorithm>
#include <cmath>

namespace swf {

void ByteWriter::U8(unsigned value)
{
    if (value > 0xFF)
        throw FormatError("value does not fit a byte: " + std::to_string(value));
    data.push_back(static_cast<std::uint8_t>(value));
}

void ByteWriter::U16(unsigned value)
{
    if (value > 0xFFFF)
        throw FormatError("value does not fit 16 bits: " + std::to_string(value));
    data.push_back(static_cast<std::uint8_t>(value & 0xFF));
    data.push_back(static_cast<std::uint8_t>(value >> 8));
}

void ByteWriter::S16(int value)
{
    if (value < -32768 || value > 32767)
        throw FormatError("value does not fit a signed 16-bit field: " + std::to_string(value));
    U16(static_cast<unsigned>(value) & 0xFFFF);
}

void ByteWriter::U32(std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        data.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
}

void ByteWriter::String(std::string_view text)
{
    if (text.find('\0') != std::string_view::npos)
        throw FormatError("a string field cannot hold a NUL byte");
    data.insert(data.end(), text.begin(), text.end());
    data.push_back(0);
}

void ByteWriter::Append(const Bytes& bytes)
{
    data.insert(data.end(), bytes.begin(), bytes.end());
}

void ByteWriter::PatchU16(std::size_t at, unsigned value)
{
    if (value > 0xFFFF)
        throw FormatError("value does not fit 16 bits: " + std::to_string(value));
    data.at(at) = static_cast<std::uint8_t>(value & 0xFF);
    data.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void BitWriter::Unsigned(std::uint32_t value, int bits)
{
    if (bits < 32 && (value >> bits) != 0)
        throw FormatError("value does not fit " + std::to_string(bits) + " bits");
    for (int bit = bits - 1; bit >= 0; --bit) {
        if (used == 0)
            data.push_back(0);
        if ((value >> bit) & 1)
            data.back() |= static_cast<std::uint8_t>(0x80 >> used);
        used = (used + 1) % 8;
    }
}

void BitWriter::Signed(std::int32_t value, int bits)
{
    if (bits < SignedBits(value))
        throw FormatError("value " + std::to_string(value) + " does not fit " + std::to_string(bits) +
                          " signed bits");
    const std::uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1);
    Unsigned(static_cast<std::uint32_t>(value) & mask, bits);
}

void BitWriter::Align()
{
    used = 0;
}

Bytes BitWriter::Take()
{
    used = 0;
    return std::move(data);
}

int UnsignedBits(std::uint32_t value)
{
    int bits = 0;
    while (value != 0) {
        ++bits;
        value >>= 1;
    }
    return bits;
}

int SignedBits(std::int32_t value)
{
    // A sign bit plus the magnitude bits of the value (or of its complement).
    const std::uint32_t magnitude =
        value < 0 ? ~static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    return UnsignedBits(magnitude) + 1;
}

void WriteRect(BitWriter& bits, const Rect& rect)
{
    const int n = std::max(
        {SignedBits(rect.xMin), SignedBits(rect.xMax), SignedBits(rect.yMin), SignedBits(rect.yMax)});
    if (n > 31)
        throw FormatError("rectangle coordinate too large");
    bits.Unsigned(static_cast<std::uint32_t>(n), 5);
    bits.Signed(rect.xMin, n);
    bits.Signed(rect.xMax, n);
    bits.Signed(rect.yMin, n);
    bits.Signed(rect.yMax, n);
    bits.Align();
}

Rgba RgbFromHex(std::uint32_t rrggbb)
{
    return {static_cast<std::uint8_t>(rrggbb >> 16), static_cast<std::uint8_t>(rrggbb >> 8),
            static_cast<std::uint8_t>(rrggbb), 255};
}

Bytes Tag(TagCode code, const Bytes& body)
{
    ByteWriter out;
    const unsigned type = static_cast<unsigned>(code);
    if (body.size() < 0x3F) {
        out.U16((type << 6) | static_cast<unsigned>(body.size()));
    } else {
        out.U16((type << 6) | 0x3F);
        out.U32(static_cast<std::uint32_t>(body.size()));
    }
    out.Append(body);
    return out.Take();
}

namespace {

Bytes RectBytes(const Rect& rect)
{
    BitWriter bits;
    WriteRect(bits, rect);
    return bits.Take();
}

Rect Bounds(const std::vector<Outline>& outlines)
{
    bool first = true;
    Rect box;
    auto include = [&](Point p) {
        if (first) {
            box = {p.x, p.x, p.y, p.y};
            first = false;
        }
        box.xMin = std::min(box.xMin, p.x);
        box.xMax = std::max(box.xMax, p.x);
        box.yMin = std::min(box.yMin, p.y);
        box.yMax = std::max(box.yMax, p.y);
    };
    for (const Outline& outline : outlines) {
        include(outline.start);
        for (const Edge& edge : outline.edges) {
            include(edge.to);
            if (edge.curved)
                include(edge.control);  // the curve stays inside its control polygon
        }
    }
    return box;
}

void WriteEdge(BitWriter& bits, Point from, const Edge& edge)
{
    bits.Unsigned(1, 1);  // edge record
    if (edge.curved) {
        const int cx = edge.control.x - from.x, cy = edge.control.y - from.y;
        const int ax = edge.to.x - edge.control.x, ay = edge.to.y - edge.control.y;
        const int n = std::max({SignedBits(cx), SignedBits(cy), SignedBits(ax), SignedBits(ay), 2});
        bits.Unsigned(0, 1);  // curved
        bits.Unsigned(static_cast<std::uint32_t>(n - 2), 4);
        bits.Signed(cx, n);
        bits.Signed(cy, n);
        bits.Signed(ax, n);
        bits.Signed(ay, n);
        return;
    }
    const int dx = edge.to.x - from.x, dy = edge.to.y - from.y;
    bits.Unsigned(1, 1);  // straight
    if (dx != 0 && dy != 0) {
        const int n = std::max({SignedBits(dx), SignedBits(dy), 2});
        bits.Unsigned(static_cast<std::uint32_t>(n - 2), 4);
        bits.Unsigned(1, 1);  // general line
        bits.Signed(dx, n);
        bits.Signed(dy, n);
    } else {
        const bool vertical = dx == 0;
        const int delta = vertical ? dy : dx;
        const int n = std::max(SignedBits(delta), 2);
        bits.Unsigned(static_cast<std::uint32_t>(n - 2), 4);
        bits.Unsigned(0, 1);
        bits.Unsigned(vertical ? 1 : 0, 1);
        bits.Signed(delta, n);
    }
}

}  // namespace

Outline RectangleOutline(const Rect& r)
{
    return PolygonOutline({{r.xMin, r.yMin}, {r.xMax, r.yMin}, {r.xMax, r.yMax}, {r.xMin, r.yMax}});
}

Outline RoundedRectangleOutline(const Rect& r, int radius)
{
    radius = std::min({radius, (r.xMax - r.xMin) / 2, (r.yMax - r.yMin) / 2});
    if (radius <= 0)
        return RectangleOutline(r);
    auto line = [](int x, int y) { return Edge{{x, y}, false, {}}; };
    auto corner = [](int cx, int cy, int x, int y) { return Edge{{x, y}, true, {cx, cy}}; };
    // Clockwise on screen (y grows downwards), one quadratic curve per corner.
    return {{r.xMin + radius, r.yMin},
            {line(r.xMax - radius, r.yMin), corner(r.xMax, r.yMin, r.xMax, r.yMin + radius),
             line(r.xMax, r.yMax - radius), corner(r.xMax, r.yMax, r.xMax - radius, r.yMax),
             line(r.xMin + radius, r.yMax), corner(r.xMin, r.yMax, r.xMin, r.yMax - radius),
             line(r.xMin, r.yMin + radius), corner(r.xMin, r.yMin, r.xMin + radius, r.yMin)}};
}

Outline PolygonOutline(const std::vector<Point>& points)
{
    if (points.size() < 3)
        throw FormatError("an outline needs at least three points");
    Outline outline{points.front(), {}};
    for (std::size_t i = 1; i < points.size(); ++i)
        outline.edges.push_back({points[i], false, {}});
    outline.edges.push_back({points.front(), false, {}});
    return outline;
}

Bytes DefineShape3(std::uint16_t id, Rgba fill, const std::vector<Outline>& outlines)
{
    if (outlines.empty())
        throw FormatError("a shape needs an outline");
    ByteWriter out;
    out.U16(id);
    out.Append(RectBytes(Bounds(outlines)));
    out.U8(1);     // fill styles
    out.U8(0x00);  // solid
    out.U8(fill.r);
    out.U8(fill.g);
    out.U8(fill.b);
    out.U8(fill.a);
    out.U8(0);  // line styles

    const int fillBits = 1, lineBits = 0;
    BitWriter bits;
    bits.Unsigned(fillBits, 4);
    bits.Unsigned(lineBits, 4);
    bool firstOutline = true;
    for (const Outline& outline : outlines) {
        // Style change: move to the outline's start; the first one also picks
        // fill style 1 for the right-hand side of the edges.
        const int n = std::max(SignedBits(outline.start.x), SignedBits(outline.start.y));
        bits.Unsigned(0, 1);                     // non-edge record
        bits.Unsigned(0, 1);                     // new styles
        bits.Unsigned(0, 1);                     // line style
        bits.Unsigned(firstOutline ? 1 : 0, 1);  // fill style 1
        bits.Unsigned(0, 1);                     // fill style 0
        bits.Unsigned(1, 1);                     // move to
        bits.Unsigned(static_cast<std::uint32_t>(n), 5);
        bits.Signed(outline.start.x, n);
        bits.Signed(outline.start.y, n);
        if (firstOutline)
            bits.Unsigned(1, fillBits);
        Point at = outline.start;
        for (const Edge& edge : outline.edges) {
            WriteEdge(bits, at, edge);
            at = edge.to;
        }
        firstOutline = false;
    }
    bits.Unsigned(0, 6);  // end of shape
    out.Append(bits.Take());
    return Tag(TagCode::DefineShape3, out.Data());
}

Bytes DefineSprite(std::uint16_t id, const std::vector<Bytes>& controlTags)
{
    ByteWriter out;
    out.U16(id);
    out.U16(1);  // frames
    for (const Bytes& tag : controlTags)
        out.Append(tag);
    out.Append(ShowFrame());
    out.Append(End());
    return Tag(TagCode::DefineSprite, out.Data());
}

Bytes PlaceObject2(const Placement& p)
{
    ByteWriter out;
    const unsigned hasName = p.name.empty() ? 0 : 0x20;
    const unsigned hasMatrix = 0x04, hasCharacter = 0x02;
    out.U8(hasName | hasMatrix | hasCharacter);
    out.U16(p.depth);
    out.U16(p.character);
    BitWriter matrix;
    matrix.Unsigned(0, 1);  // no scale
    matrix.Unsigned(0, 1);  // no rotation
    const int n = (p.at.x == 0 && p.at.y == 0) ? 0 : std::max(SignedBits(p.at.x), SignedBits(p.at.y));
    matrix.Unsigned(static_cast<std::uint32_t>(n), 5);
    if (n > 0) {
        matrix.Signed(p.at.x, n);
        matrix.Signed(p.at.y, n);
    }
    out.Append(matrix.Take());
    if (hasName)
        out.String(p.name);
    return Tag(TagCode::PlaceObject2, out.Data());
}

Bytes DefineDeviceFont(std::uint16_t id, std::string_view name)
{
    ByteWriter out;
    out.U16(id);
    out.U8(0);  // flags: no layout, no wide codes or offsets, plain style
    out.U8(0);  // language code: none
    if (name.empty() || name.size() > 255)
        throw FormatError("a font name needs 1 to 255 bytes");
    out.U8(static_cast<unsigned>(name.size()));
    out.Append(Bytes(name.begin(), name.end()));
    out.U16(0);  // glyphs
    out.U16(2);  // code table offset: the code table (empty) follows this field
    return Tag(TagCode::DefineFont2, out.Data());
}

Bytes DefineEditText(const EditText& t)
{
    ByteWriter out;
    out.U16(t.id);
    out.Append(RectBytes(t.bounds));
    const bool hasText = !t.initialText.empty();
    // HasText, ReadOnly, HasTextColor, HasFont | HasLayout, NoSelect.
    out.U8((hasText ? 0x80 : 0) | 0x08 | 0x04 | 0x01);
    out.U8(0x20 | 0x10);
    out.U16(t.fontId);
    out.U16(static_cast<unsigned>(t.fontHeight));
    out.U8(t.color.r);
    out.U8(t.color.g);
    out.U8(t.color.b);
    out.U8(t.color.a);
    out.U8(static_cast<unsigned>(t.align));
    out.U16(0);      // left margin
    out.U16(0);      // right margin
    out.U16(0);      // indent
    out.S16(0);      // leading
    out.String("");  // no variable bound to the text
    if (hasText)
        out.String(t.initialText);
    return Tag(TagCode::DefineEditText, out.Data());
}

Bytes DefineVideoStream(std::uint16_t id, int widthPixels, int heightPixels, VideoCodec codec)
{
    ByteWriter out;
    out.U16(id);
    out.U16(0);  // frames: none embedded
    out.U16(static_cast<unsigned>(widthPixels));
    out.U16(static_cast<unsigned>(heightPixels));
    out.U8(0x01);  // smoothing on, no deblocking override
    out.U8(static_cast<unsigned>(codec));
    return Tag(TagCode::DefineVideoStream, out.Data());
}

Bytes FileAttributes(bool useNetwork)
{
    ByteWriter out;
    out.U32(useNetwork ? 0x01 : 0x00);
    return Tag(TagCode::FileAttributes, out.Data());
}

Bytes SetBackgroundColor(Rgba color)
{
    return Tag(TagCode::SetBackgroundColor, {color.r, color.g, color.b});
}

Bytes DoAction(const Bytes& actions)
{
    return Tag(TagCode::DoAction, actions);
}

Bytes ShowFrame()
{
    return Tag(TagCode::ShowFrame, {});
}

Bytes End()
{
    return Tag(TagCode::End, {});
}

Bytes MovieFile(const MovieHeader& header, const std::vector<Bytes>& rootTags)
{
    ByteWriter body;
    body.Append(RectBytes({0, Twips(header.widthPixels), 0, Twips(header.heightPixels)}));
    const long rate = std::lround(header.frameRate * 256);
    if (rate <= 0 || rate > 0xFFFF)
        throw FormatError("frame rate out of range");
    body.U16(static_cast<unsigned>(rate));  // 8.8 fixed point
    const Bytes showFrame = ShowFrame();
    const auto frames = std::count(rootTags.begin(), rootTags.end(), showFrame);
    body.U16(static_cast<unsigned>(frames));
    for (const Bytes& tag : rootTags)
        body.Append(tag);
    body.Append(End());

    ByteWriter file;
    file.Append({'F', 'W', 'S'});
    file.U8(header.version);
    file.U32(static_cast<std::uint32_t>(8 + body.Size()));
    file.Append(body.Data());
    return file.Take();
}

}  // namespace swf
