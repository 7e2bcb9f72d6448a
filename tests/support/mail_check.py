#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Parses one captured mail with Python's email package (policy.default) and prints what a reader would see,
as JSON, for the C++ tests: decoded subject, From and To (display name, address), the decoded bytes of every
text part and attachment, the attachment names, and hygiene facts (parser defects, 8-bit header bytes, the
longest line, encoded words that do not decode on their own or exceed 75 characters, bare CR or LF).
The .json sidecar the test server wrote beside the mail is included as "envelope".
Usage: mail_check.py MAIL.eml
"""
import base64, email, email.policy, json, os, quopri, re, sys


def main(path):
    raw = open(path, "rb").read()
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    out = {"defects": []}
    sidecar = path[:-4] + ".json"
    out["envelope"] = json.load(open(sidecar)) if os.path.exists(sidecar) else None

    def addresses(name):
        try:
            h = msg[name]
            return [[a.display_name, a.addr_spec] for a in h.addresses] if h is not None else None
        except Exception as e:
            out["defects"].append("%s: %r" % (name, e))
            return None

    out["subject"] = str(msg["subject"]) if msg["subject"] is not None else None
    out["from"] = addresses("from")
    out["to"] = addresses("to")
    out["header_counts"] = {}
    for k in msg.keys():
        out["header_counts"][k.lower()] = out["header_counts"].get(k.lower(), 0) + 1
    out["date"] = msg["date"].datetime.isoformat() if msg["date"] is not None and msg["date"].datetime else None
    out["message_id"] = str(msg["message-id"]) if msg["message-id"] else None
    out["mime_version"] = str(msg["mime-version"]) if msg["mime-version"] else None
    out["content_type"] = msg.get_content_type()

    texts, atts = [], []
    for part in msg.walk():
        out["defects"] += ["%s: %s" % (part.get_content_type(), type(d).__name__) for d in part.defects]
        for k, v in part.items():
            out["defects"] += ["header %s: %s" % (k, type(d).__name__) for d in getattr(v, "defects", ())]
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        if part.get_content_disposition() == "attachment" or part.get_filename():
            atts.append({"filename": part.get_filename(), "type": part.get_content_type(),
                         "cte": part.get("content-transfer-encoding"),
                         "bytes_b64": base64.b64encode(payload).decode()})
        else:
            texts.append({"type": part.get_content_type(), "charset": part.get_content_charset(),
                          "cte": part.get("content-transfer-encoding"),
                          "bytes_b64": base64.b64encode(payload).decode()})
    out["texts"], out["attachments"] = texts, atts

    head = raw.partition(b"\r\n\r\n")[0]
    blocks = [head] + [m.group(1) for m in re.finditer(rb"\r\n--[^\r\n]+\r\n((?:[^\r\n]+\r\n)+)\r\n", raw)]
    out["header_8bit"] = any(re.search(rb"[\x80-\xff]", b) for b in blocks)
    words = [m for b in blocks for m in re.finditer(rb"=\?([^?\s]+)\?([bBqQ])\?([^?\s]*)\?=", b)]
    out["ew_max"] = max((len(m.group(0)) for m in words), default=0)
    bad = []
    for m in words:
        cs, kind, text = m.group(1).decode(), m.group(2).upper(), m.group(3)
        try:
            b = base64.b64decode(text, validate=True) if kind == b"B" else quopri.decodestring(text, header=True)
            b.decode(cs)
        except Exception:
            bad.append(m.group(0).decode()[:60])
    out["ew_not_self_contained"] = bad
    lines = raw.split(b"\r\n")
    out["max_line"] = max(len(l) for l in lines)
    out["max_header_line"] = max(len(l) for b in blocks for l in b.split(b"\r\n"))
    out["long_header_lines"] = [l[:100].decode("latin-1") for b in blocks for l in b.split(b"\r\n") if len(l) > 78]
    stripped = raw.replace(b"\r\n", b"")
    out["bare_lf"], out["bare_cr"] = stripped.count(b"\n"), stripped.count(b"\r")
    print(json.dumps(out))


if __name__ == "__main__":
    main(sys.argv[1])
