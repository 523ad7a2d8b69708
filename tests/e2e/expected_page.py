"""The bytes "Generate Player" must write for a set of choices, built here
from the page's rules, independently of the program's own writer."""

SIZES = {
    "Player with 160x120 video size": ("163", "178", "flv_player_160x120"),
    "Player with 240x180 video size": ("243", "243", "flv_player_240x180"),
    "Player with 320x240 video size": ("323", "323", "flv_player_320x240"),
    "Player with 640x480 video size": ("643", "555", "flv_player_640x480"),
}

BUFFER_TIMES = {"2 sec": "2", "3 sec": "3", "5 sec": "5", "8 sec": "8"}

CABINET = "https://download.macromedia.com/pub/shockwave/cabs/flash/swflash.cab#version=7,0,0,0"
PLAYER_PAGE = "https://www.macromedia.com/go/getflashplayer"


def encode(value: bytes) -> bytes:
    """Control bytes, DEL, bytes from 0x80 up and " # % & ' + < > \\ go
    into the variables as %XX, everything else as it is."""
    out = bytearray()
    for byte in value:
        if byte < 0x20 or byte >= 0x7F or byte in b"\"#%&'+<>\\":
            out += b"%%%02X" % byte
        else:
            out.append(byte)
    return bytes(out)


def page(size, buffer, colour, auto_start, link, caption, web_page, clip_file, clip_length):
    width, height, name = SIZES[size]
    movie = name + ".swf"
    values = [
        ("file=flvs\\", clip_file),
        ("&clipLength=", clip_length),
        ("&buttonColor=", colour),
        ("&bufferTime=", BUFFER_TIMES[buffer]),
        ("&autoStart=", "1" if auto_start else ""),
        ("&isLink=", "1" if link else "0"),
        ("&linkCaption=", caption),
        ("&webPage=", web_page),
    ]
    variables = b"".join(key.encode() + encode(value.encode("utf-8")) for key, value in values)
    w, h, n, m = (s.encode() for s in (width, height, name, movie))
    player = b"".join(
        [
            b'<object classid="clsid:d27cdb6e-ae6d-11cf-96b8-444553540000" ',
            b'codebase="' + CABINET.encode(),
            b'" width="' + w,
            b'" height="' + h,
            b'" id="' + n,
            b'" align="middle"> ',
            b'<param name="allowScriptAccess" value="sameDomain" /> ',
            b'<param name="movie" value="' + m,
            b'" /> ',
            b'<param name="FlashVars" value="' + variables,
            b'" />',
            b'<param name="quality" value="high" /> ',
            b'<param name="bgcolor" value="#ffffff" /> ',
            b'<embed src="' + m + b"?" + variables,
            b'" quality="high" bgcolor="#ffffff" width="' + w,
            b'" height="' + h,
            b'" name="' + n,
            b'" ',
            b'align="middle" allowScriptAccess="sameDomain" type="application/x-shockwave-flash" ',
            b'pluginspage="' + PLAYER_PAGE.encode(),
            b'" /> </object>',
        ]
    )
    return b"<html> <body>\r\n<br>\r\n" + player + b"\r\n</body> </html>\r\n"
