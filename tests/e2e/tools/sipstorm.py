"""Hostile datagrams for the console, as a platform gone wrong (or an attacker with its address)
might send them: every kind of message the console reads, cut, bent and garbled.

    storm(rng, count, ids) yields (kind, bytes)

Every SIP text carries "storm" in its Call-ID, so that a relay can tell the console's answers to
them from its real traffic. Python 3 standard library only."""

import random

CRLF = "\r\n"
MAX_DATAGRAM = 30720  # the console reads no more


class Ids:
    """Addresses and codes of the session under attack."""

    def __init__(self, console, platform, host_code, plat_code):
        self.console = console  # "127.0.0.1:7610"
        self.platform = platform  # the address the console knows as the platform's
        self.host_code = host_code
        self.plat_code = plat_code


def _text(lines, body=b""):
    head = CRLF.join(lines) + CRLF + "Content-Length: %d" % len(body) + CRLF + CRLF
    return head.encode("latin-1") + body


def _request(rng, ids, method, body=b"", content_type="Application/MANSCDP+xml", call_id=None):
    n = rng.randrange(1, 1 << 31)
    lines = [
        "%s sip:%s@%s SIP/2.0" % (method, ids.host_code, ids.console),
        "Via: SIP/2.0/UDP %s;rport;branch=z9hG4bK-storm%d" % (ids.platform, n),
        "From: <sip:%s@%s>;tag=storm%d" % (ids.plat_code, ids.platform, n),
        "To: <sip:%s@%s>" % (ids.host_code, ids.console),
        "Call-ID: %s" % (call_id or "storm-%d" % n),
        "CSeq: %d %s" % (rng.randrange(1, 1 << 20), method),
        "Max-Forwards: 70",
    ]
    if body:
        lines.append("Content-Type: " + content_type)
    return _text(lines, body)


def _response(rng, ids, status, method, extra=(), body=b""):
    n = rng.randrange(1, 1 << 31)
    lines = [
        "SIP/2.0 " + status,
        "Via: SIP/2.0/UDP %s;rport=%s;branch=z9hG4bK-%010d" % (
            ids.console, ids.console.split(":")[1], rng.randrange(0, 400000001)),
        "From: <sip:%s@%s>;tag=%010d" % (ids.host_code, ids.console, n % 400000001),
        "To: <sip:%s@%s>;tag=storm%d" % (ids.plat_code, ids.platform, n),
        "Call-ID: storm-Vekta9-%010d" % (n % 400000001),
        "CSeq: %d %s" % (rng.choice([1, 2, 6, 7, n]), method),
    ] + list(extra)
    if body:
        lines.append("Content-Type: application/sdp")
    return _text(lines, body)


def _device_id(rng):
    kind = rng.choice(["001", "002", "131", "021", "017", "401", "999"])
    return "0150%02d%03d%02d%s%06d" % (rng.choice([1, 5, 99]), rng.randrange(1000),
                                         rng.randrange(100), kind, rng.randrange(10 ** 6))


def _gbk_name(rng, length):
    chars = [rng.choice("ABCDEFGH0123456789") for _ in range(length)]
    return "".join(chars).encode("gb18030")


def _catalogue(rng, names):
    root = rng.choice(["Response", "Notify"])
    items = b"".join(
        b"<Item><DeviceID>" + _device_id(rng).encode() + b"</DeviceID><Name>" + name +
        b"</Name><ParentID>" + _device_id(rng).encode() + b"</ParentID><Status>" +
        rng.choice([b"ON", b"OFF", b"on", b""]) + b"</Status><IPAddress>" +
        rng.choice([b"10.1.1.9", b"::1", b"999.999.999.999999"]) + b"</IPAddress></Item>"
        for name in names)
    return (b'<?xml version="1.0" encoding="GB2312"?><' + root.encode() +
            b"><CmdType>Catalog</CmdType><SN>1</SN><DeviceList Num=\"%d\">" % len(names) +
            items + b"</DeviceList></" + root.encode() + b">")


def catalogue_page(rng, ids):
    names = [_gbk_name(rng, rng.randrange(1, 40)) for _ in range(rng.randrange(1, 9))]
    return _request(rng, ids, rng.choice(["MESSAGE", "NOTIFY"]), _catalogue(rng, names))


def challenge(rng, ids):
    nonce = "%x" % rng.getrandbits(64)
    return _response(rng, ids, "401 Unauthorized", rng.choice(["REGISTER", "MESSAGE", "INVITE"]),
                     ['WWW-Authenticate: Digest realm="3402000000", nonce="%s", algorithm=MD5'
                      % nonce])


def invite_ok(rng, ids):
    start = rng.choice([1700000000, -5, 0, 1 << 40, rng.randrange(1 << 32)])
    sdp = ("v=0\r\no=%s 0 0 IN IP4 127.0.0.1\r\ns=Playback\r\nc=IN IP4 127.0.0.1\r\n"
           "t=%d %d\r\nm=video 6000 RTP/AVP 96\r\na=sendonly\r\n"
           % (ids.plat_code, start, start + rng.randrange(-10, 100000))).encode()
    return _response(rng, ids, "200 OK", "INVITE", ["Contact: <sip:%s@%s>" %
                                                    (ids.plat_code, ids.platform)], sdp)


def bye(rng, ids):
    return _request(rng, ids, "BYE")


def info(rng, ids):
    body = rng.choice([b"PLAY MANSRTSP/1.0\r\nCSeq:2\r\nRange:npt=now-\r\n",
                       b"PAUSE MANSRTSP/1.0\r\nCSeq:1\r\nPauseTime:now\r\n"])
    return _request(rng, ids, "INFO", body, "Application/MANSRTSP")


def folded_headers(rng, ids):
    # One header continued over thousands of lines: about 30 KB, a few of them over the limit.
    base = _request(rng, ids, rng.choice(["MESSAGE", "NOTIFY", "BYE"])).decode("latin-1")
    room = rng.choice([MAX_DATAGRAM - 100, MAX_DATAGRAM - 2000, MAX_DATAGRAM + 10]) - len(base) - 2
    fold = "X-Folded: start" + "".join(CRLF + " %s" % ("x" * rng.randrange(1, 8))
                                      for _ in range(room // 5))
    at = base.index(CRLF) + 2
    return (base[:at] + fold[:room] + CRLF + base[at:]).encode("latin-1")


def long_name(rng, ids):
    name = b"N" * 30000
    return _request(rng, ids, "MESSAGE", _catalogue(rng, [name]))


def entity_bomb(rng, ids):
    levels = "".join('<!ENTITY e%d "&e%d;&e%d;&e%d;&e%d;&e%d;&e%d;&e%d;&e%d;&e%d;&e%d;">'
                     % ((i,) + (i - 1,) * 10) for i in range(1, 10))
    body = ('<?xml version="1.0"?><!DOCTYPE Response [<!ENTITY e0 "lol">%s]>'
            "<Response><CmdType>Catalog</CmdType><DeviceList><Item><DeviceID>"
            "01509900101001000001</DeviceID><Name>&e9;</Name></Item></DeviceList></Response>"
            % levels).encode()
    return _request(rng, ids, rng.choice(["MESSAGE", "NOTIFY"]), body)


def invalid_gb18030(rng, ids):
    bad = [b"\x80", b"\xff\xff", b"\x81", b"\x81\x30", b"\xfe\x39\xfe", b"\xa1\x7f", b"\x00x"]
    names = [b"A" + b"".join(rng.choice(bad) for _ in range(rng.randrange(1, 20)))
             for _ in range(rng.randrange(1, 5))]
    return _request(rng, ids, "MESSAGE", _catalogue(rng, names))


def rtp(rng, ids):
    head = bytes([0x80 | rng.randrange(0x40), rng.randrange(256)]) + rng.randbytes(10)
    return head + rng.choice([rng.randbytes(rng.randrange(0, 1400)), b"SIP/2.0 200 OK\r\n\r\n"])


def junk(rng, ids):
    if rng.random() < 0.5:
        return rng.randbytes(rng.randrange(0, 1500))
    return "".join(rng.choice("SIP/2.0 :;<>@\r\n\t") for _ in range(rng.randrange(1, 600))).encode()


KINDS = [
    # name, share of the storm in percent, builder
    ("catalogue page", 20, catalogue_page),
    ("401", 10, challenge),
    ("200 OK with SDP", 10, invite_ok),
    ("BYE", 8, bye),
    ("INFO", 5, info),
    ("folded headers", 4, folded_headers),
    ("long name", 1, long_name),  # 30,000 characters
    ("entity bomb", 4, entity_bomb),
    ("invalid GB18030", 6, invalid_gb18030),
    ("RTP-looking", 11, rtp),
    ("junk", 21, junk),
]


def _mutate(rng, data):
    """One to three changes a broken or hostile sender might make."""
    for _ in range(rng.randrange(1, 4)):
        how = rng.randrange(9)
        if how == 0 and data:
            for _ in range(rng.randrange(1, 8)):
                i = rng.randrange(len(data))
                data = data[:i] + bytes([rng.randrange(256)]) + data[i + 1:]
        elif how == 1 and data:
            data = data[:rng.randrange(len(data))]
        elif how == 2:
            lines = data.split(b"\r\n")
            i = rng.randrange(len(lines))
            lines.insert(i, lines[i])
            data = b"\r\n".join(lines)
        elif how == 3:
            lines = data.split(b"\r\n")
            del lines[rng.randrange(len(lines))]
            data = b"\r\n".join(lines)
        elif how == 4:
            value = rng.choice([b"999999999", b"-1", b"abc", b"0", b"30721", b"4294967296"])
            data = data.replace(b"Content-Length: ", b"Content-Length: " + value + b"0", 1)
        elif how == 5:
            data = data.replace(b"CSeq: ", b"CSeq: 4294967295999", 1)
        elif how == 6 and data:
            i = rng.randrange(len(data))
            data = data[:i] + b"\x00" + data[i:]
        elif how == 7:
            data = data.replace(b"\r\n", b"\n")
        else:
            at = data.find(b"\r\nVia: ")
            if at >= 0:
                end = data.find(b"\r\n", at + 2)
                data = data[:end] + data[at:end] * rng.randrange(2, 300) + data[end:]
    return data


def storm(rng, count, ids, without=(), mutate_share=0.7):
    """count datagrams: the kinds in their shares (those named in without left out), most of
    them mutated."""
    names = [k[0] for k in KINDS if k[0] not in without]
    weights = [k[1] for k in KINDS if k[0] not in without]
    builders = dict((k[0], k[2]) for k in KINDS)
    for _ in range(count):
        kind = rng.choices(names, weights)[0]
        data = builders[kind](rng, ids)
        if rng.random() < mutate_share:
            data = _mutate(rng, data)
        yield kind, data


if __name__ == "__main__":
    # A look at a few of them.
    sample = Ids("127.0.0.1:7610", "127.0.0.1:5061", "01552400000805100001",
                 "01552403048401000001")
    for k, d in storm(random.Random(1), 12, sample):
        print("%-22s %6d %r" % (k, len(d), d[:70]))
