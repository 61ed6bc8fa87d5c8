"""Record files for the DLL's acceptance run, with the payloads the device must receive from each."""
import random
import struct

import genrecfiles
import refreader

START = refreader.BLOCK_START_MARK
END = refreader.BLOCK_END_MARK
MAGIC = refreader.TRAILER_MAGIC


def gbk(text):
    return text.encode("gbk")


def entry_bytes(entries):
    return b"".join(c + b"\xff" + l + b"\xff" + v + b"\xff" for c, l, v in entries)


def block(entries, extra=b"", spare=b"\x00\x00\x00\x00\x00\x00"):
    """One block; spare holds the six bytes the reader does not interpret."""
    body = entry_bytes(entries) + extra
    return (START + struct.pack("<i", 5 + len(body)) + spare[0:4] + spare[4:5]
            + struct.pack("<i", len(entries)) + spare[5:6] + body + END)


def trailer(count):
    return struct.pack("<i", count) + MAGIC


def payload_of(entries):
    """The counted record bytes of one block, straight from its entries."""
    cut = [tuple(refreader.slot_text(s) for s in e) for e in entries]
    return refreader.record_payload(refreader.assemble_record(cut))


def fields_payload(fields):
    assert len(fields) == 11
    return b"".join(f + b"\x00" for f in fields)


def checked_payloads(data, expected, blocks_placed=None):
    """The reference reader must agree with the construction before a
    result of the DLL is judged by it; a slip here is the driver's own.
    The block scan passes over block bodies, so a mark inside one (random
    Chinese text can form one) would make the file ambiguous."""
    placed = len(expected) if blocks_placed is None else blocks_placed
    if data.count(START) != placed or data.count(MAGIC) != 1:
        raise RuntimeError("driver: a mark stands inside the file's data")
    result, payloads = refreader.read_payloads(data)
    if result != 0 or payloads != expected:
        raise RuntimeError("driver: the reference reader disagrees with the file's construction")
    return payloads


def example_block():
    """The 48-byte example's block: payload 4c69 00 x7 313233 00 x4."""
    return [(b"00", b"", b"Li"), (b"12", b"Tel", b"123")]


EXAMPLE_PAYLOAD = bytes.fromhex("4c690000000000000031323300000000")


def chinese_block():
    entries = [
        (b"00", gbk("姓名"), gbk("张三")),
        (b"10", gbk("手机"), b"13800138000"),
        (b"00", gbk("别名"), gbk("李四")),           # displaces 张三 into the notes
        (b"01", gbk("称谓"), gbk("先生")),
        (b"61", gbk("邮件"), b"zhang@example.cn"),
        (b"60", gbk("地址"), gbk("北京市海淀区")),
        (b"15", gbk("公司"), gbk("某公司")),
        (b"15", gbk("公司2"), gbk("第二")),           # first wins: to the notes
        (b"80", gbk("备注"), b"~}" + gbk("混合") + b"\x11\x13\r\n"),
        (b"99", b"x", b"ignored"),
        (b"00", gbk("英文"), b"Zhang San"),          # ASCII never displaces
    ]
    fields = [gbk("李四"), b"", gbk("某公司"), b"", b"", b"13800138000", b"", b"",
              b"zhang@example.cn", gbk("北京市海淀区"),
              gbk("别名:张三\r\n公司2:第二\r\n备注:~}混合") + b"\x11\x13\r\n\r\n"
              + gbk("英文:Zhang San\r\n称谓:先生\r\n")]
    return entries, fields_payload(fields)


def mixed_block():
    entries = [
        (b"61", b"mail", b"a@.bc"),                  # fails the e-mail test
        (b"16", gbk("部门"), gbk("研发部")),
        (b"13", b"fax", b"010-1234"),
        (b"11", b"tel", b"62345678"),
        (b"12", b"home", b""),
        (b"12", b"home2", gbk("无")),                # displaces the empty value
        (b"14", b"x", b"first14"),                   # held, shown nowhere
        (b"14", b"y", b"second14"),
    ]
    fields = [b"", b"", b"", gbk("研发部"), b"010-1234", b"", b"62345678", gbk("无"), b"",
              b"", b"home2:\r\ny:second14\r\n"]
    return entries, fields_payload(fields)


def short_entries(rng):
    """Seeded entries whose strings all fit a slot (a longer one is cut or
    refused at the implementer's choice, so it is not judged here)."""
    while True:
        entries = genrecfiles.some_entries(rng)
        if all(len(s) <= refreader.FIELD_TEXT_MAX for e in entries for s in e):
            return entries


def several_blocks_file(seed):
    for attempt in range(100):
        try:
            return several_blocks_attempt(random.Random(seed + attempt))
        except MarkInData:
            continue
    raise RuntimeError("driver: no file without marks in its data")


class MarkInData(Exception):
    pass


def several_blocks_attempt(rng):
    chinese, chinese_payload = chinese_block()
    mixed, mixed_payload = mixed_block()
    blocks = [example_block(), [], chinese, short_entries(rng), mixed, short_entries(rng),
              short_entries(rng)]
    data = bytearray(b"\x7e\xaa\xbb\x55\x00")            # passed over before the first block
    for i, entries in enumerate(blocks):
        spare = bytes(rng.randrange(256) for _ in range(6))
        data += genrecfiles.junk(rng, 12) if i % 2 else b""
        data += block(entries, spare=spare)
    data += block([(b"00", b"", b"never sent")])         # beyond the announced count
    data += trailer(len(blocks))
    if data.count(START) != len(blocks) + 1 or data.count(MAGIC) != 1:
        raise MarkInData()
    expected = [payload_of(e) for e in blocks]
    if expected[0] != EXAMPLE_PAYLOAD or expected[1] != b"\x00" * 11 \
            or expected[2] != chinese_payload or expected[4] != mixed_payload:
        raise RuntimeError("driver: literal expectations disagree with the reference assembly")
    return bytes(data), checked_payloads(bytes(data), expected, len(blocks) + 1)


def simple_file(count_blocks, seed):
    rng = random.Random(seed)
    while True:
        blocks = [[(b"00", b"", gbk("联系人%d" % (i + 1))), (b"12", b"Tel", b"%d" % (1000 + i))]
                  + short_entries(rng)[:3] for i in range(count_blocks)]
        data = b"".join(block(e) for e in blocks) + trailer(count_blocks)
        if data.count(START) == count_blocks and data.count(MAGIC) == 1:
            return data, checked_payloads(data, [payload_of(e) for e in blocks])


def largest_record_file():
    """One block whose record has the greatest length assembly allows:
    nine full 255-byte fields, the empty field 1, and 511 bytes of notes,
    rich in bytes the frame must stuff."""
    def filled(pattern, n):
        return (pattern * (n // len(pattern) + 1))[:n]

    # 81 7E and 81 7D are double-byte characters whose trail byte is stuffed.
    stuffy = b"~}~}" + b"\x81\x7e\x81\x7d" + gbk("中文") + b"\x7e\x7d"
    entries = [
        (b"00", b"", filled(stuffy, 255)),
        (b"15", b"", filled(b"}~" + gbk("公司"), 255)),
        (b"16", b"", filled(gbk("部门") + b"~", 255)),
        (b"13", b"", filled(b"~" * 3 + b"1", 255)),
        (b"10", b"", filled(b"}", 255)),
        (b"11", b"", filled(b"\x7e\x7d\x7e", 255)),
        (b"12", b"", filled(gbk("电话") + b"}~}", 255)),
        (b"61", b"", b"a" * 202 + b"~}" * 24 + b"@b.cn"),
        (b"60", b"", filled(gbk("北京") + b"~", 255)),
        (b"80", b"", filled(b"~}" + gbk("备注"), 250)),
        (b"80", b"", filled(gbk("说明") + b"}", 255)),
    ]
    if any(len(v) > 255 or b"\xff" in v or b"\x00" in v for _, _, v in entries):
        raise RuntimeError("driver: a value of the largest record does not fit its slot")
    data = block(entries) + trailer(1)
    payload = payload_of(entries)
    if len(payload) != 2817:
        raise RuntimeError("driver: the largest record is %d bytes, not 2817" % len(payload))
    return data, checked_payloads(data, [payload])
