"""The program's number formats and money figures, computed independently of its code."""
import decimal
import struct


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def pattern(value, pat):
    """'#' optional digit, '0' required digit, other characters literal (blanks kept)."""
    neg = value < 0
    q = decimal.Decimal(abs(value))
    frac_pat = pat.split(".")[1] if "." in pat else ""
    frac_digits = sum(1 for c in frac_pat if c in "#0")
    q = q.quantize(decimal.Decimal(1).scaleb(-frac_digits), rounding=decimal.ROUND_HALF_UP)
    int_digits, _, frac = format(q, "f").partition(".")
    int_pat = pat.split(".")[0] if "." in pat else pat
    # the integer part, right to left
    digits = list(int_digits.lstrip("0") or "")
    out = []
    positions = [i for i, c in enumerate(int_pat) if c in "#0"]
    first_pos = positions[0] if positions else len(int_pat)
    chars = list(int_pat)
    res = [""] * len(chars)
    for i in range(len(chars) - 1, -1, -1):
        c = chars[i]
        if c in "#0":
            if digits:
                res[i] = digits.pop()
            elif c == "0":
                res[i] = "0"
        else:
            res[i] = c
    head = "".join(digits)  # digits without a position of their own
    text = "".join(res[:first_pos]) + head + "".join(res[first_pos:])
    # the fraction and what follows it
    if "." in pat:
        fp = frac_pat
        fd = [c for c in frac]
        tail = ""
        fr = ""
        k = 0
        j = 0
        while j < len(fp) and fp[j] in "#0":
            j += 1
        fslots = fp[:j]
        tail = fp[j:]
        fr = list(fd[:len(fslots)])
        for idx in range(len(fslots) - 1, -1, -1):
            if fslots[idx] == "#" and fr[idx] == "0" and idx == len(fr) - 1:
                fr.pop()
            else:
                break
        text = text + "," + "".join(fr) + tail
    return ("-" if neg and q != 0 else "") + text


def bytes_text(n):
    return pattern(n, "### ### ### ##0 байт")


def mb_text(x):
    return pattern(x, "###0.0# Мб")


def expected_figures(tx, rx, limit=10.0, tariff=2.5):
    sent = f32(tx / 1048576.0)
    recv = f32(rx / 1048576.0)
    used = f32(sent + recv)
    left = f32(limit / tariff - used)
    money = f32((limit / tariff - used) * tariff)
    return used, left, money


def charged_limit(limit, tariff, used, owed=0.0):
    """The limit after a charge the program makes by itself (a dropped link, a session that
    ended while it was closed): the cost and what was owed, taken off in whole kopecks
    (round half to even, as the C library rounds). Returns the text the labels show."""
    cost = f32(used) * f32(tariff) + owed
    return pattern(f32(limit) - round(cost * 100) / 100, "###0.0#")


def general(text):
    """A limit as data.dat and payments.csv write it: no fraction that is only zeros."""
    return text.rstrip("0").rstrip(",") if "," in text else text
