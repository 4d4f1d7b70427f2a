#!/usr/bin/env python3
"""A time-stamping authority for tests, on 127.0.0.1 only, with a fixed clock.

It answers the two requests Authenticode signers send by HTTP POST:
- RFC 3161 (Content-Type application/timestamp-query): a TimeStampReq, answered
  with a TimeStampResp made by `openssl ts -reply`;
- legacy Authenticode (any other type): base64 of a TimeStampRequest
  (countersignatureType 1.3.6.1.4.1.311.3.2.1, content: a data ContentInfo
  holding the signature's bytes), answered with base64 of a PKCS #7 SignedData
  over those bytes (SHA-1, which Windows XP can check).
openssl runs under faketime at the given time, so the same requests give the
same replies: the serial number comes from the request, and a nonce is left
out of the reply (RFC 3161 wants it copied; a random nonce would make every
reply differ, and the signers here do not check it).

    tsa.py DIR 'YYYY-MM-DD HH:MM:SS' PORTFILE [SECONDS]

DIR holds tsa.pem (the time-stamping certificate, extended key usage
timeStamping, critical), tsa.key and chain.pem (its issuers). The port it
listens on is written to PORTFILE once it listens; it serves for SECONDS (60
by default) and then ends.
"""
import base64
import hashlib
import http.server
import os
import subprocess
import sys
import tempfile
import time

LEGACY_TYPE = bytes.fromhex('060a2b060104018237030201')  # OID 1.3.6.1.4.1.311.3.2.1
DATA_TYPE = bytes.fromhex('06092a864886f70d010701')  # OID 1.2.840.113549.1.7.1
MAX_REQUEST = 65536


def tlv(buf, pos):
    """(tag, start of value, end of value) of the DER element at pos."""
    if pos + 2 > len(buf):
        raise ValueError('truncated')
    tag, length = buf[pos], buf[pos + 1]
    pos += 2
    if length & 0x80:
        count = length & 0x7f
        if count == 0 or count > 4 or pos + count > len(buf):
            raise ValueError('bad length')
        length = int.from_bytes(buf[pos:pos + count], 'big')
        pos += count
    if pos + length > len(buf):
        raise ValueError('truncated')
    return tag, pos, pos + length


def children(buf, start, end):
    """The elements inside a constructed value, as (tag, start, end, raw)."""
    out = []
    while start < end:
        tag, vstart, vend = tlv(buf, start)
        out.append((tag, vstart, vend, buf[start:vend]))
        start = vend
    return out


def der(tag, value):
    n = len(value)
    if n < 0x80:
        head = bytes([tag, n])
    else:
        size = n.to_bytes((n.bit_length() + 7) // 8, 'big')
        head = bytes([tag, 0x80 | len(size)]) + size
    return head + value


def rfc3161_query(req):
    """The request again without its nonce: version, messageImprint, certReq."""
    tag, start, end = tlv(req, 0)
    fields = children(req, start, end)
    if tag != 0x30 or len(fields) < 2 or fields[1][0] != 0x30:
        raise ValueError('not a TimeStampReq')
    imprint = fields[1][3]
    cert_req = any(f[0] == 0x01 and req[f[1]:f[2]] != b'\x00' for f in fields[2:])
    return der(0x30, der(0x02, b'\x01') + imprint + (der(0x01, b'\xff') if cert_req else b'')), imprint


def legacy_content(req):
    """The signature bytes a legacy TimeStampRequest asks to have signed."""
    tag, start, end = tlv(req, 0)
    fields = children(req, start, end)
    if tag != 0x30 or not fields or fields[0][3] != LEGACY_TYPE:
        raise ValueError('not an Authenticode TimeStampRequest')
    info = fields[-1]
    parts = children(req, info[1], info[2])
    if info[0] != 0x30 or len(parts) != 2 or parts[0][3] != DATA_TYPE or parts[1][0] != 0xa0:
        raise ValueError('the request holds no data content')
    tag, start, end = tlv(req, parts[1][1])
    if tag != 0x04:
        raise ValueError('the content is not an OCTET STRING')
    return req[start:end]


class Authority:
    def __init__(self, directory, when):
        self.dir = directory
        self.when = when
        self.cnf = os.path.join(directory, 'tsa.cnf')
        with open(self.cnf, 'w') as f:
            f.write(f"""[tsa]
default_tsa = qorl
[qorl]
serial = {os.path.join(directory, 'serial')}
crypto_device = builtin
signer_cert = {os.path.join(directory, 'tsa.pem')}
signer_key = {os.path.join(directory, 'tsa.key')}
certs = {os.path.join(directory, 'chain.pem')}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
""")

    def openssl(self, args, work):
        env = dict(os.environ, TZ='UTC')
        subprocess.run(['faketime', '-f', self.when, 'openssl'] + args, cwd=work, env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=30)

    def rfc3161(self, req):
        query, imprint = rfc3161_query(req)
        with tempfile.TemporaryDirectory(dir=self.dir) as work:
            with open(os.path.join(work, 'query.tsq'), 'wb') as f:
                f.write(query)
            # One serial number per message imprint: the same request, the same reply.
            with open(os.path.join(self.dir, 'serial'), 'w') as f:
                f.write(hashlib.sha256(imprint).hexdigest()[:16] + '\n')
            self.openssl(['ts', '-reply', '-config', self.cnf, '-queryfile', 'query.tsq',
                          '-out', 'reply.tsr'], work)
            with open(os.path.join(work, 'reply.tsr'), 'rb') as f:
                return f.read()

    def legacy(self, body):
        content = legacy_content(base64.b64decode(body, validate=False))
        with tempfile.TemporaryDirectory(dir=self.dir) as work:
            with open(os.path.join(work, 'content'), 'wb') as f:
                f.write(content)
            self.openssl(['smime', '-sign', '-binary', '-nodetach', '-nosmimecap', '-md', 'sha1',
                          '-signer', os.path.join(self.dir, 'tsa.pem'),
                          '-inkey', os.path.join(self.dir, 'tsa.key'),
                          '-certfile', os.path.join(self.dir, 'chain.pem'),
                          '-in', 'content', '-outform', 'DER', '-out', 'reply.p7'], work)
            with open(os.path.join(work, 'reply.p7'), 'rb') as f:
                return base64.b64encode(f.read())


class Handler(http.server.BaseHTTPRequestHandler):
    timeout = 10  # a client that stalls gives up its connection

    def do_POST(self):
        length = int(self.headers.get('Content-Length') or 0)
        if length <= 0 or length > MAX_REQUEST:
            self.send_error(400, 'no request, or too long')
            return
        body = self.rfile.read(length)
        kind = self.headers.get('Content-Type', '').split(';')[0].strip().lower()
        try:
            if kind == 'application/timestamp-query':
                reply, reply_type = self.server.authority.rfc3161(body), 'application/timestamp-reply'
            else:
                reply, reply_type = self.server.authority.legacy(body), 'application/octet-stream'
        except (ValueError, subprocess.SubprocessError, OSError) as e:
            detail = getattr(e, 'stderr', None) or b''
            self.log_message('refused: %s %s', e, detail.decode(errors='replace').strip())
            self.send_error(400, 'not a time-stamp request')
            return
        self.log_message('%s answered', 'RFC 3161' if kind == 'application/timestamp-query' else 'legacy')
        self.send_response(200)
        self.send_header('Content-Type', reply_type)
        self.send_header('Content-Length', str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit("usage: tsa.py DIR 'YYYY-MM-DD HH:MM:SS' PORTFILE [SECONDS]")
    directory, when, port_file = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
    lifetime = float(sys.argv[4]) if len(sys.argv) == 5 else 60
    server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
    server.authority = Authority(directory, when)
    server.timeout = 1
    with open(port_file + '.new', 'w') as f:
        f.write(f'{server.server_address[1]}\n')
    os.replace(port_file + '.new', port_file)
    deadline = time.monotonic() + lifetime
    while time.monotonic() < deadline:
        server.handle_request()
    server.server_close()


if __name__ == '__main__':
    main()
