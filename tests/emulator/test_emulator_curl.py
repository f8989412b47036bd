#!/usr/bin/env python3
"""The emulator against requests that curl sends, signed here without the
client layer, so the emulator is shown to accept any correct client."""

import base64
import email.utils
import hashlib
import hmac
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
KEY_ID = "EXAMPLEKEYID0001"
SECRET = "ExampleSecret0123456789abcdefEXAMPLE"
BUCKET = "examplebucket"
SIGNED = {"acl", "uploads", "delete", "uploadId", "partNumber"}


def sign(string_to_sign, secret=SECRET):
    return base64.b64encode(hmac.new(secret.encode(), string_to_sign.encode("utf-8"), hashlib.sha1).digest()).decode()


class Emulator:
    def __init__(self, verbose=False):
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "oss_emulator.py"), "--lifetime", "300",
             "--key", "%s:%s" % (KEY_ID, SECRET), "--bucket", BUCKET] + (["--verbose"] if verbose else []),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE if verbose else None, text=True)
        self.port = json.loads(self.process.stdout.readline())["port"]

    def command(self, **command):
        self.process.stdin.write(json.dumps(command) + "\n")
        self.process.stdin.flush()
        return json.loads(self.process.stdout.readline())

    def stop(self):
        self.process.stdin.close()
        self.process.wait(timeout=10)


class Response:
    def __init__(self, raw):
        head, _, self.body = raw.partition(b"\r\n\r\n")
        # Skip an interim "100 Continue" block.
        while head.startswith(b"HTTP/1.1 100"):
            head, _, self.body = self.body.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.status = int(lines[0].split()[1])
        self.headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers[name.strip().lower()] = value.strip()

    def xml(self):
        return ET.fromstring(self.body)

    def code(self):
        return self.xml().findtext("Code")


class CurlClient:
    """Sends requests with curl to self.emulator."""

    def curl(self, method, key="", query="", body=None, headers=None, sign_with=SECRET, date=None,
             anonymous=False, host=None, content_type=None, md5=None, resource=None, oss_date=None):
        """Sends one request with curl; the signature is computed here from the raw key.

        With oss_date the request carries its time in x-oss-date, which is then
        the signed date, and a Date header only when date is given as well."""
        headers = dict(headers or {})
        if oss_date is None:
            date = date or email.utils.formatdate(usegmt=True)
        else:
            headers["x-oss-date"] = oss_date
        if body is not None and content_type is None:
            content_type = "application/octet-stream"
        oss = {n.lower(): v.strip() for n, v in headers.items() if n.lower().startswith("x-oss-")}
        if resource is None:
            params = urllib.parse.parse_qsl(query, keep_blank_values=True)
            signed = sorted((n, v) for n, v in params if n in SIGNED)
            resource = "/%s/%s" % (BUCKET, key)
            if signed:
                resource += "?" + "&".join(n if v == "" else "%s=%s" % (n, v) for n, v in signed)
        string_to_sign = "\n".join([method, md5 or "", content_type or "", oss_date or date,
                                    "".join("%s:%s\n" % (n, oss[n]) for n in sorted(oss)) + resource])
        # HEAD answers carry no body whatever their Content-Length says.
        args = ["curl", "-s", "-i"] + (["-I"] if method == "HEAD" else ["-X", method])
        if date is not None:
            args += ["-H", "Date: " + date]
        if not anonymous:
            args += ["-H", "Authorization: OSS %s:%s" % (KEY_ID, sign(string_to_sign, sign_with))]
        if content_type is not None:
            args += ["-H", "Content-Type: " + content_type]
        if md5 is not None:
            args += ["-H", "Content-MD5: " + md5]
        if host:
            args += ["-H", "Host: " + host]
        for name, value in headers.items():
            args += ["-H", "%s: %s" % (name, value)]
        if body is not None:
            args += ["--data-binary", "@-"]
        path = "/%s/%s" % (BUCKET, urllib.parse.quote(key, safe="/")) if host is None else "/" + urllib.parse.quote(key)
        url = "http://127.0.0.1:%d%s%s" % (self.emulator.port, path, "?" + query if query else "")
        result = subprocess.run(args + [url], input=body, capture_output=True, check=True, timeout=30)
        return Response(result.stdout)


class EmulatorWithCurl(CurlClient, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.emulator = Emulator()

    @classmethod
    def tearDownClass(cls):
        cls.emulator.stop()

    def setUp(self):
        self.emulator.command(cmd="clear-faults")
        self.emulator.command(cmd="config", clock_offset=0, page_limit=1000, min_part_size=102400)

    def test_signature_vectors(self):
        # The published vectors, through this file's signer.
        date = "Wed, 28 May 2025 08:00:00 GMT"
        cases = [
            ("GET\n\n\n%s\n/examplebucket/" % date, "LiKUf54m1dIWloLR4e+oVGP0JAw="),
            ("POST\n\n\n%s\n/examplebucket/big.bin?uploads" % date, "skMm5lIHGxWIB53UvmswKoxTFgQ="),
            ("POST\nFHDVahYIPMsEyA3n9cnapQ==\napplication/xml\n%s\n/examplebucket/?delete" % date,
             "hM3ahL/wKwVEWwIjUgz/8uBclVE="),
            ("PUT\nEQP2UOssKS0XmgMtKpew9Q==\ntext/plain\n%s\nx-oss-meta-author:alice\nx-oss-meta-tag:demo\n"
             "/examplebucket/docs/hello world.txt" % date, "x2th9S5HU1oebn6znLjaDViBRzs="),
        ]
        for string_to_sign, expected in cases:
            self.assertEqual(sign(string_to_sign), expected)

    def test_put_get_with_md5_and_meta(self):
        body = b"Hello, OSS!\n"
        md5 = base64.b64encode(hashlib.md5(body).digest()).decode()
        put = self.curl("PUT", "docs/hello world.txt", body=body, content_type="text/plain", md5=md5,
                        headers={"X-OSS-Meta-Tag": "demo", "x-oss-meta-author": "   alice  "})
        self.assertEqual(put.status, 200, put.body)
        self.assertEqual(put.headers["etag"], '"%s"' % hashlib.md5(body).hexdigest().upper())
        self.assertEqual(len(put.headers["x-oss-request-id"]), 24)
        get = self.curl("GET", "docs/hello world.txt")
        self.assertEqual(get.status, 200)
        self.assertEqual(get.body, body)
        self.assertEqual(get.headers["content-type"], "text/plain")
        self.assertEqual(get.headers["x-oss-meta-author"], "alice")
        self.assertEqual(get.headers["x-oss-hash-crc64ecma"], put.headers["x-oss-hash-crc64ecma"])
        ranged = self.curl("GET", "docs/hello world.txt", headers={"Range": "bytes=0-4"})
        self.assertEqual((ranged.status, ranged.body), (206, b"Hello"))
        self.assertEqual(ranged.headers["content-range"], "bytes 0-4/12")

    def test_errors(self):
        self.assertEqual(self.curl("PUT", "x", body=b"abc", md5="AAAAAAAAAAAAAAAAAAAAAA==").code(), "InvalidDigest")
        self.assertEqual(self.curl("GET", "x", anonymous=True).code(), "AccessDenied")
        mismatch = self.curl("GET", "x", sign_with="wrong")
        self.assertEqual((mismatch.status, mismatch.code()), (403, "SignatureDoesNotMatch"))
        self.assertTrue(mismatch.xml().findtext("StringToSign").endswith("/examplebucket/x"))
        old = email.utils.formatdate(time.time() - 3600, usegmt=True)
        skewed = self.curl("GET", "x", date=old)
        self.assertEqual(skewed.code(), "RequestTimeTooSkewed")
        self.assertEqual(skewed.xml().findtext("MaxAllowedSkewMilliseconds"), "900000")
        missing = self.curl("GET", "no/such key")
        self.assertEqual((missing.status, missing.code()), (404, "NoSuchKey"))
        self.assertEqual(missing.xml().findtext("Key"), "no/such key")
        self.assertEqual(missing.xml().findtext("RequestId"), missing.headers["x-oss-request-id"])

    def test_virtual_hosted_and_literal_plus(self):
        put = self.curl("PUT", "v+plus.txt", body=b"v", host="%s.localhost:%d" % (BUCKET, self.emulator.port))
        self.assertEqual(put.status, 200, put.body)
        # A '+' in the path is a plus, not a blank.
        date = email.utils.formatdate(usegmt=True)
        raw = subprocess.run(["curl", "-s", "-i", "-H", "Date: " + date, "-H",
                              "Authorization: OSS %s:%s" % (KEY_ID, sign("GET\n\n\n%s\n/%s/v+plus.txt" % (
                                  date, BUCKET))),
                              "http://127.0.0.1:%d/%s/v+plus.txt" % (self.emulator.port, BUCKET)],
                             capture_output=True, check=True).stdout
        self.assertEqual(Response(raw).body, b"v")

    def test_listing_pages(self):
        for key in ["l/a", "l/b", "l/sub/c", "l/sub/d", "l/z"]:
            self.assertEqual(self.curl("PUT", key, body=key.encode()).status, 200)
        seen, prefixes, marker = [], [], ""
        while True:
            query = "prefix=l%2F&delimiter=%2F&max-keys=2" + ("&marker=" + urllib.parse.quote(marker) if marker else "")
            page = self.curl("GET", "", query=query).xml()
            seen += [c.findtext("Key") for c in page.findall("Contents")]
            prefixes += [p.findtext("Prefix") for p in page.findall("CommonPrefixes")]
            if page.findtext("IsTruncated") != "true":
                break
            marker = page.findtext("NextMarker")
        self.assertEqual(seen, ["l/a", "l/b", "l/z"])
        self.assertEqual(prefixes, ["l/sub/"])
        bad = self.curl("GET", "", query="max-keys=1001")
        self.assertEqual(bad.code(), "InvalidArgument")

    def test_multipart(self):
        first, last = os.urandom(1500000), b"tail"
        initiated = self.curl("POST", "mp.bin", query="uploads", body=b"").xml()
        upload_id = initiated.findtext("UploadId")
        etags = []
        for number, data in ((1, first), (2, last)):
            # Large parts go with curl's own Expect: 100-continue.
            part = self.curl("PUT", "mp.bin", query="partNumber=%d&uploadId=%s" % (number, upload_id), body=data)
            self.assertEqual(part.status, 200, part.body)
            etags.append(part.headers["etag"])

        def complete(parts):
            body = "<CompleteMultipartUpload>%s</CompleteMultipartUpload>" % "".join(
                "<Part><PartNumber>%d</PartNumber><ETag>%s</ETag></Part>" % p for p in parts)
            return self.curl("POST", "mp.bin", query="uploadId=" + upload_id, body=body.encode(),
                             content_type="application/xml")

        self.assertEqual(complete([]).code(), "MalformedXML")
        self.assertEqual(complete([(2, etags[1]), (1, etags[0])]).code(), "InvalidPartOrder")
        self.assertEqual(complete([(1, etags[1]), (2, etags[1])]).code(), "InvalidPart")
        self.emulator.command(cmd="config", min_part_size=2000000)
        self.assertEqual(complete([(1, etags[0]), (2, etags[1])]).code(), "EntityTooSmall")
        self.emulator.command(cmd="config", min_part_size=102400)
        done = complete([(1, etags[0].lower()), (2, etags[1])])
        self.assertEqual(done.status, 200, done.body)
        self.assertEqual(self.curl("GET", "mp.bin").body, first + last)
        self.assertEqual(complete([(1, etags[0])]).code(), "NoSuchUpload")

    def test_delete_multiple(self):
        self.curl("PUT", "d/a.txt", body=b"a")
        body = (b'<?xml version="1.0" encoding="UTF-8"?><Delete><Quiet>false</Quiet>'
                b'<Object><Key>d/a.txt</Key></Object><Object><Key>d/missing</Key></Object></Delete>')
        no_md5 = self.curl("POST", "", query="delete", body=body, content_type="application/xml")
        self.assertEqual(no_md5.code(), "InvalidDigest")
        md5 = base64.b64encode(hashlib.md5(body).digest()).decode()
        deleted = self.curl("POST", "", query="delete", body=body, content_type="application/xml", md5=md5)
        self.assertEqual(deleted.status, 200, deleted.body)
        self.assertEqual([d.findtext("Key") for d in deleted.xml().findall("Deleted")], ["d/a.txt", "d/missing"])
        self.assertEqual(self.curl("GET", "d/a.txt").code(), "NoSuchKey")

    def test_chunked_upload(self):
        put = self.curl("PUT", "chunked.bin", body=b"x" * 70000, headers={"Transfer-Encoding": "chunked"})
        self.assertEqual(put.status, 200, put.body)
        self.assertEqual(len(self.curl("GET", "chunked.bin").body), 70000)

    def test_short_request_body_is_not_stored(self):
        date = email.utils.formatdate(usegmt=True)
        signature = sign("PUT\n\n\n%s\n/%s/short.bin" % (date, BUCKET))
        with socket.create_connection(("127.0.0.1", self.emulator.port)) as s:
            s.sendall(("PUT /%s/short.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nDate: %s\r\nAuthorization: OSS %s:%s\r\n"
                       "Content-Length: 100\r\n\r\n0123456789" % (BUCKET, date, KEY_ID, signature)).encode())
            s.shutdown(socket.SHUT_WR)
            s.recv(1024)
        self.assertIsNone(self.emulator.command(cmd="get", bucket=BUCKET, key="short.bin")["data"])

    def test_signed_on_x_oss_date(self):
        # A client may send its time in x-oss-date only; that value is then the
        # signed date line, and the header is signed again among the x-oss-* ones.
        body = b"signed on x-oss-date"
        md5 = base64.b64encode(hashlib.md5(body).digest()).decode()
        now = email.utils.formatdate(usegmt=True)
        hour_ago = email.utils.formatdate(time.time() - 3600, usegmt=True)
        put = dict(key="s/body.bin", body=body, md5=md5)
        cases = [
            ("PUT", dict(put, oss_date=now), 200, None),
            ("GET", dict(key="s/body.bin", oss_date=now), 200, None),
            ("GET", dict(key="", query="prefix=s%2F", oss_date=now), 200, None),
            ("POST", dict(key="s/mp.bin", query="uploads", body=b"", oss_date=now), 200, None),
            # With both headers, x-oss-date counts: for the signature and for the clock.
            ("GET", dict(key="s/body.bin", date=hour_ago, oss_date=now), 200, None),
            ("GET", dict(key="s/body.bin", date=now, oss_date=hour_ago), 403, "RequestTimeTooSkewed"),
        ]
        for method, arguments, status, code in cases:
            with self.subTest(method=method, arguments=arguments):
                answer = self.curl(method, **arguments)
                self.assertEqual(answer.status, status, answer.body)
                if code:
                    self.assertEqual(answer.code(), code)
        self.assertEqual(self.curl("GET", "s/body.bin", oss_date=now).body, body)

        mismatch = self.curl("PUT", sign_with="wrong", **dict(put, oss_date=now)).xml()
        self.assertEqual(mismatch.findtext("StringToSign"),
                         "PUT\n%s\napplication/octet-stream\n%s\nx-oss-date:%s\n/examplebucket/s/body.bin"
                         % (md5, now, now))

    def test_failed_head_carries_its_error_in_a_header(self):
        self.curl("PUT", "h/there.txt", body=b"there")
        self.emulator.command(cmd="fault", method="HEAD", key="h/busy.txt", status=503, code="ServiceUnavailable")
        cases = [
            ("h/missing.txt", SECRET, 404, "NoSuchKey"),
            ("h/there.txt", "wrong", 403, "SignatureDoesNotMatch"),
            ("h/busy.txt", SECRET, 503, "ServiceUnavailable"),
        ]
        for key, secret, status, code in cases:
            with self.subTest(key=key, code=code):
                head = self.curl("HEAD", key, sign_with=secret)
                self.assertEqual(head.status, status)
                self.assertEqual(head.body, b"")
                error = ET.fromstring(base64.b64decode(head.headers["x-oss-err"], validate=True))
                self.assertEqual(error.findtext("Code"), code)
                self.assertEqual(error.findtext("RequestId"), head.headers["x-oss-request-id"])
        self.assertEqual(ET.fromstring(base64.b64decode(self.curl("HEAD", "h/missing.txt").headers["x-oss-err"]))
                         .findtext("Key"), "h/missing.txt")
        found = self.curl("HEAD", "h/there.txt")
        self.assertEqual((found.status, found.headers["content-length"]), (200, "5"))
        self.assertNotIn("x-oss-err", found.headers)

    def test_faults_and_log(self):
        self.emulator.command(cmd="clear-log")
        self.emulator.command(cmd="fault", key="f.txt", status=503, code="ServiceUnavailable", count=2)
        self.assertEqual(self.curl("GET", "f.txt").code(), "ServiceUnavailable")
        self.assertEqual(self.curl("GET", "f.txt").code(), "ServiceUnavailable")
        self.assertEqual(self.curl("GET", "f.txt").code(), "NoSuchKey")
        log = self.emulator.command(cmd="log")["log"]
        self.assertEqual([e["status"] for e in log], [503, 503, 404])
        self.assertEqual(log[0]["key"], "f.txt")
        self.assertEqual(log[0]["fault"]["code"], "ServiceUnavailable")


class VerboseEmulator(CurlClient, unittest.TestCase):
    def test_one_line_per_request_on_stderr(self):
        self.emulator = Emulator(verbose=True)
        try:
            self.curl("PUT", "v.txt", body=b"verbose")
            self.curl("GET", "v.txt")
            self.curl("HEAD", "missing.txt")
            self.curl("GET", "", query="prefix=v&max-keys=2")
            self.emulator.command(cmd="fault", key="v.txt", close=True)
            with self.assertRaises(subprocess.CalledProcessError):
                self.curl("GET", "v.txt")
        finally:
            self.emulator.stop()
        with self.emulator.process.stdout, self.emulator.process.stderr as errors:
            lines = errors.read().splitlines()
        self.assertEqual(lines, [
            "emulator: PUT /examplebucket/v.txt 200",
            "emulator: GET /examplebucket/v.txt 200",
            "emulator: HEAD /examplebucket/missing.txt 404",
            "emulator: GET /examplebucket/?prefix=v&max-keys=2 200",
            "emulator: GET /examplebucket/v.txt no answer",
        ])


class Arguments(unittest.TestCase):
    """Bad arguments end with a usage line and status 2, before anything listens."""

    def test_bad_arguments(self):
        scratch = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, scratch)
        not_pem = os.path.join(scratch, "not-pem.crt")
        with open(not_pem, "wb") as file:
            file.write(b"-----BEGIN CERTIFICATE-----\nnot base64 at all\n-----END CERTIFICATE-----\n")
        cases = [
            (["--key", "no-colon"], "not ID:SECRET"),
            (["--key", ":secret"], "not ID:SECRET"),
            (["--key", "id:"], "not ID:SECRET"),
            (["--tls-cert", os.path.join(scratch, "missing.crt")], "--tls-cert"),
            (["--tls-cert", not_pem], "--tls-cert"),
            (["--tls-key", not_pem], "--tls-key needs --tls-cert"),
        ]
        for arguments, message in cases:
            with self.subTest(arguments=arguments):
                run = subprocess.run([sys.executable, os.path.join(HERE, "oss_emulator.py"), "--lifetime", "30"]
                                     + arguments, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30)
                self.assertEqual(run.returncode, 2, run.stderr)
                self.assertTrue(run.stderr.startswith("usage: oss_emulator.py "), run.stderr)
                self.assertNotIn("Traceback", run.stderr)
                self.assertIn(message, run.stderr.splitlines()[-1])
                self.assertEqual(run.stdout, "")


if __name__ == "__main__":
    unittest.main()
