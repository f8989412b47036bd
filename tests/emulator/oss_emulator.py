#!/usr/bin/env python3
"""Local emulator of the object-storage service's REST protocol (V1 signatures).

Listens on 127.0.0.1 on a port chosen at start and prints {"port": N} as the
first line on stdout. Control commands arrive as JSON lines on stdin and are
answered with one JSON line on stdout; the emulator stops when stdin closes,
on {"cmd": "stop"}, or when its lifetime runs out.

Commands:
  {"cmd": "fault", "method": "GET", "key": "a.txt", "query": "partNumber=2",
   "count": 1, ...action...}          queue a fault for matching requests
  {"cmd": "clear-faults"}
  {"cmd": "log"}                        the requests received so far
  {"cmd": "clear-log"}
  {"cmd": "config", "clock_offset": s, "page_limit": n, "min_part_size": n}
  {"cmd": "bucket", "name": b}          create a bucket
  {"cmd": "put", "bucket": b, "key": k, "data": base64}
  {"cmd": "get", "bucket": b, "key": k} an object's bytes (base64) or null
  {"cmd": "stat", "bucket": b, "key": k} its size, ETag, type and CRC-64
  {"cmd": "uploads"}                    the multipart uploads still open
  {"cmd": "stop"}

Fault actions (one per fault): "status" with optional "code"/"message" (an
error answer; without "code" the body is empty), "delay" seconds before the
answer, "close" (read the request, close without answering), "reset_after"
bytes of the response body then a reset, "reset_upload_after" bytes of the
request body then a reset, "stall_upload_after" bytes of the request body then
silence for "stall" seconds, "short_body" bytes of the response body then a
normal close, "declared_length" (a smaller Content-Length and that many
bytes), "stall_after" bytes of the response body then silence for "stall"
seconds, "trickle" bytes of the response body at a time with "interval"
seconds between them, "corrupt_at" (the body byte at that offset inverted,
length and headers kept), "bad_crc", "no_etag", "bad_xml", "apply_then_reset".
"""

import argparse
import base64
import binascii
import ctypes
import datetime
import email.utils
import hashlib
import hmac
import http.server
import json
import os
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
import uuid
import xml.etree.ElementTree as ET

SIGNED_SUB_RESOURCES = {
    "acl", "uploads", "location", "cors", "logging", "website", "referer", "lifecycle", "delete", "append",
    "tagging", "objectMeta", "uploadId", "partNumber", "security-token", "position", "img", "style",
    "styleName", "replication", "replicationProgress", "replicationLocation", "cname", "bucketInfo", "comp",
    "qos", "live", "status", "vod", "startTime", "endTime", "symlink", "x-oss-process",
    "response-content-type", "response-content-language", "response-expires", "response-cache-control",
    "response-content-disposition", "response-content-encoding",
}
MAX_SKEW_SECONDS = 15 * 60
CHUNK = 1024 * 1024


class Crc64:
    """CRC-64/ECMA-182 as in x-oss-hash-crc64ecma (reflected, all-ones init and xor-out)."""

    POLY = 0xC96C5795D7870F42
    _table = None
    _native = None

    @classmethod
    def load_native(cls, path):
        # Optional: a C function uint64_t crc64(uint64_t crc, const void*, size_t) for large bodies.
        lib = ctypes.CDLL(path)
        lib.oss_emulator_crc64.restype = ctypes.c_uint64
        lib.oss_emulator_crc64.argtypes = [ctypes.c_uint64, ctypes.c_char_p, ctypes.c_size_t]
        cls._native = lib.oss_emulator_crc64

    @classmethod
    def compute(cls, data, crc=0):
        if cls._native is not None:
            return cls._native(crc, bytes(data), len(data))
        if cls._table is None:
            table = []
            for i in range(256):
                c = i
                for _ in range(8):
                    c = (c >> 1) ^ cls.POLY if c & 1 else c >> 1
                table.append(c)
            cls._table = table
        table = cls._table
        c = crc ^ 0xFFFFFFFFFFFFFFFF
        for b in data:
            c = table[(c ^ b) & 0xFF] ^ (c >> 8)
        return c ^ 0xFFFFFFFFFFFFFFFF


class ServiceError(Exception):
    def __init__(self, status, code, message, **extra):
        super().__init__(message)
        self.status = status
        self.code = code
        self.message = message
        self.extra = extra


class ConnectionAborted(Exception):
    """The request body was incomplete or a fault ended the connection."""


class StoredObject:
    def __init__(self, data, etag, object_type, content_type, meta):
        self.data = bytes(data)
        self.etag = etag
        self.type = object_type
        self.content_type = content_type
        self.meta = meta
        self.crc = Crc64.compute(self.data)
        self.modified = time.time()


class Upload:
    def __init__(self, bucket, key, content_type, meta):
        self.bucket = bucket
        self.key = key
        self.content_type = content_type
        self.meta = meta
        self.parts = {}


class State:
    def __init__(self, credentials, buckets):
        self.lock = threading.Lock()
        self.credentials = credentials
        self.buckets = {name: {} for name in buckets}
        self.uploads = {}
        self.faults = []
        self.log = []
        self.clock_offset = 0.0
        self.page_limit = 1000
        self.min_part_size = 102400
        self.log_file = None

    def now(self):
        return time.time() + self.clock_offset

    def take_fault(self, method, bucket, key, raw_query):
        with self.lock:
            for fault in self.faults:
                if fault.get("method") and fault["method"] != method:
                    continue
                if "bucket" in fault and fault["bucket"] != bucket:
                    continue
                if "key" in fault and fault["key"] != key:
                    continue
                if fault.get("query") and fault["query"] not in raw_query:
                    continue
                fault["count"] = fault.get("count", 1) - 1
                if fault["count"] == 0:
                    self.faults.remove(fault)
                return dict(fault)
        return None

    def record(self, entry):
        with self.lock:
            self.log.append(entry)
            if self.log_file:
                self.log_file.write(json.dumps(entry) + "\n")
                self.log_file.flush()


def request_id():
    return uuid.uuid4().hex[:24].upper()


def iso8601(t):
    return datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.000Z")


def quoted_md5(data):
    return '"%s"' % hashlib.md5(data).hexdigest().upper()


def xml_bytes(root):
    return b'<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(root, encoding="utf-8")


def sub(parent, name, text=None):
    element = ET.SubElement(parent, name)
    if text is not None:
        element.text = str(text)
    return element


def parse_query(raw):
    """name -> value with plain percent-decoding ('+' stays a plus); a bare name gets ''."""
    params = {}
    for item in raw.split("&"):
        if not item:
            continue
        name, _, value = item.partition("=")
        params[urllib.parse.unquote(name)] = urllib.parse.unquote(value)
    return params


def is_ip(host):
    for family in (socket.AF_INET, socket.AF_INET6):
        try:
            socket.inet_pton(family, host.strip("[]"))
            return True
        except OSError:
            pass
    return False


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "AliyunOSS"
    sys_version = ""

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("emulator: " + (fmt % args) + "\n")

    def do_GET(self):
        self.handle_request()

    def do_PUT(self):
        self.handle_request()

    def do_POST(self):
        self.handle_request()

    def do_DELETE(self):
        self.handle_request()

    def do_HEAD(self):
        self.handle_request()

    # --- connection-level helpers ---

    def reset_connection(self):
        # Linger 0 turns the close into a reset; close at once, because the
        # server's own shutdown() would send an orderly FIN first.
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.rfile.close()
            self.connection.close()
        except OSError:
            pass
        self.close_connection = True
        raise ConnectionAborted()

    def read_body(self, fault):
        limit = None
        for name in ("reset_upload_after", "stall_upload_after"):
            if fault and name in fault:
                limit = int(fault[name])
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            return self.read_chunked(limit, fault)
        length = int(self.headers.get("Content-Length") or 0)
        body = bytearray()
        while len(body) < length:
            want = min(CHUNK, length - len(body))
            if limit is not None:
                want = min(want, limit - len(body))
                if want <= 0:
                    self.stop_reading(fault)
            chunk = self.rfile.read(want)
            if not chunk:
                # Shorter than Content-Length: nothing is stored.
                self.close_connection = True
                raise ConnectionAborted()
            body += chunk
        if limit is not None and limit <= len(body):
            self.stop_reading(fault)
        return bytes(body)

    def stop_reading(self, fault):
        if "stall_upload_after" in fault:
            time.sleep(float(fault.get("stall", 30)))
            self.close_connection = True
            raise ConnectionAborted()
        self.reset_connection()

    def read_chunked(self, limit, fault):
        body = bytearray()
        while True:
            line = self.rfile.readline()
            if not line:
                self.close_connection = True
                raise ConnectionAborted()
            size = int(line.split(b";")[0].strip() or b"0", 16)
            if size == 0:
                while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                    pass
                return bytes(body)
            chunk = self.rfile.read(size)
            if len(chunk) < size:
                self.close_connection = True
                raise ConnectionAborted()
            body += chunk
            self.rfile.readline()
            if limit is not None and len(body) >= limit:
                self.stop_reading(fault)

    def send(self, status, headers, body=b"", fault=None):
        fault = fault or {}
        headers = dict(headers)
        headers.setdefault("x-oss-request-id", self.request_id)
        headers["Date"] = email.utils.formatdate(self.server.state.now(), usegmt=True)
        headers["Server"] = "AliyunOSS"
        if fault.get("bad_crc") and "x-oss-hash-crc64ecma" in headers:
            headers["x-oss-hash-crc64ecma"] = str((int(headers["x-oss-hash-crc64ecma"]) + 1) % (1 << 64))
        if fault.get("no_etag"):
            headers.pop("ETag", None)
        if fault.get("bad_xml") and body:
            body = body[: len(body) // 2]
        if "corrupt_at" in fault and body:
            at = min(int(fault["corrupt_at"]), len(body) - 1)
            body = body[:at] + bytes([body[at] ^ 0xFF]) + body[at + 1:]
        declared = len(body)
        if "Content-Length" in headers:
            declared = int(headers.pop("Content-Length"))
        if "declared_length" in fault:
            declared = min(declared, int(fault["declared_length"]))
            body = body[:declared]
        self.status = status
        # Logged before the answer leaves, so a client that has its answer finds its request in the log.
        self.record_entry()
        if fault.get("apply_then_reset"):
            self.reset_connection()
        self.send_response_only(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(declared))
        if self.close_connection:
            self.send_header("Connection", "close")
        self.end_headers()
        if self.command == "HEAD":
            return
        view = memoryview(body)
        stop_at, action = len(body), None
        for name in ("reset_after", "short_body", "stall_after"):
            if name in fault:
                stop_at, action = min(len(body), int(fault[name])), name
        piece = int(fault.get("trickle", CHUNK))
        sent = 0
        while sent < stop_at:
            n = min(piece, stop_at - sent)
            self.wfile.write(view[sent:sent + n])
            sent += n
            if "trickle" in fault and sent < stop_at:
                time.sleep(float(fault.get("interval", 1)))
        if action == "reset_after":
            self.wfile.flush()
            self.reset_connection()
        elif action == "short_body":
            self.close_connection = True
        elif action == "stall_after":
            self.wfile.flush()
            time.sleep(float(fault.get("stall", 30)))
            self.close_connection = True

    def send_error_xml(self, error, host, fault=None):
        root = ET.Element("Error")
        sub(root, "Code", error.code)
        sub(root, "Message", error.message)
        sub(root, "RequestId", self.request_id)
        sub(root, "HostId", host)
        for name, value in error.extra.items():
            sub(root, name, value)
        self.error_code = error.code
        document = xml_bytes(root)
        headers = {"Content-Type": "application/xml"}
        # A HEAD answer has no body: its error document travels in a header.
        if self.command == "HEAD":
            headers["x-oss-err"] = base64.b64encode(document).decode()
        self.send(error.status, headers, document, fault)

    # --- request handling ---

    def handle_request(self):
        state = self.server.state
        self.request_id = request_id()
        self.status = 0
        self.error_code = ""
        raw_path, _, raw_query = self.path.partition("?")
        query = parse_query(raw_query)
        host_header = self.headers.get("Host", "")
        host = host_header.rsplit(":", 1)[0] if not host_header.endswith("]") else host_header
        path = urllib.parse.unquote(raw_path)
        if not is_ip(host) and "." in host:
            style = "virtual"
            bucket, key = host.split(".", 1)[0], path[1:]
        else:
            style = "path"
            bucket, _, key = path[1:].partition("/")
        entry = {
            "method": self.command, "path": raw_path, "query": query, "rawQuery": raw_query,
            "bucket": bucket, "key": key, "style": style, "peerPort": self.client_address[1],
            "headers": {name: value for name, value in self.headers.items()},
        }
        fault = state.take_fault(self.command, bucket, key, raw_query)
        entry["fault"] = fault
        self.entry = entry
        body = b""
        try:
            if fault and fault.get("close"):
                self.read_body(None)
                self.close_connection = True
                return
            body = self.read_body(fault)
            entry["bodyLength"] = len(body)
            if fault and "delay" in fault:
                time.sleep(float(fault["delay"]))
            if fault and "status" in fault:
                if fault.get("code"):
                    self.send_error_xml(ServiceError(int(fault["status"]), fault["code"],
                                                     fault.get("message", "Injected fault.")), host, fault)
                else:
                    self.send(int(fault["status"]), {}, b"", fault)
                return
            try:
                self.authenticate(bucket, key, query)
                self.dispatch(bucket, key, query, body, fault)
            except ServiceError as error:
                self.send_error_xml(error, host, fault)
        except (ConnectionAborted, ConnectionError, BrokenPipeError):
            self.close_connection = True
        finally:
            entry.setdefault("bodyLength", len(body))
            self.record_entry()

    def record_entry(self):
        entry = self.entry
        if entry is None:
            return
        self.entry = None
        entry["status"] = self.status
        entry["errorCode"] = self.error_code
        entry["requestId"] = self.request_id
        self.server.state.record(entry)
        if self.server.verbose:
            answer = str(self.status) if self.status else "no answer"
            sys.stderr.write("emulator: %s %s %s\n" % (self.command, self.path, answer))
            sys.stderr.flush()

    def authenticate(self, bucket, key, query):
        state = self.server.state
        authorization = self.headers.get("Authorization")
        if not authorization:
            raise ServiceError(403, "AccessDenied", "You have no right to access this object.")
        if not authorization.startswith("OSS ") or ":" not in authorization:
            raise ServiceError(400, "InvalidArgument", "Authorization header is invalid.")
        key_id, _, provided = authorization[4:].partition(":")
        secret = state.credentials.get(key_id)
        if secret is None:
            raise ServiceError(403, "InvalidAccessKeyId",
                               "The OSS Access Key Id you provided does not exist in our records.",
                               OSSAccessKeyId=key_id)
        # x-oss-date, when sent, is the request's time: the clock check and the
        # signed date line both take it.
        date_text = self.headers.get("x-oss-date") or self.headers.get("Date") or ""
        try:
            request_time = email.utils.parsedate_to_datetime(date_text).timestamp()
        except (TypeError, ValueError, IndexError):
            raise ServiceError(403, "AccessDenied", "OSS authentication requires a valid Date.")
        server_time = state.now()
        if abs(server_time - request_time) > MAX_SKEW_SECONDS:
            raise ServiceError(403, "RequestTimeTooSkewed",
                               "The difference between the request time and the current time is too large.",
                               RequestTime=iso8601(request_time), ServerTime=iso8601(server_time),
                               MaxAllowedSkewMilliseconds=MAX_SKEW_SECONDS * 1000)
        oss_headers = {}
        for name, value in self.headers.items():
            lowered = name.lower()
            if lowered.startswith("x-oss-"):
                oss_headers[lowered] = value.strip()
        canonical_headers = "".join("%s:%s\n" % (n, oss_headers[n]) for n in sorted(oss_headers))
        resource = "/%s/%s" % (bucket, key)
        signed = sorted(name for name in query if name in SIGNED_SUB_RESOURCES)
        if signed:
            resource += "?" + "&".join(n if query[n] == "" else "%s=%s" % (n, query[n]) for n in signed)
        string_to_sign = "\n".join([
            self.command, self.headers.get("Content-MD5", ""), self.headers.get("Content-Type", ""),
            date_text, canonical_headers + resource])
        expected = base64.b64encode(hmac.new(secret.encode(), string_to_sign.encode("utf-8"),
                                             hashlib.sha1).digest()).decode()
        if not hmac.compare_digest(expected.encode(), provided.encode()):
            raise ServiceError(403, "SignatureDoesNotMatch",
                               "The request signature we calculated does not match the signature you provided. "
                               "Check your key and signing method.",
                               StringToSign=string_to_sign, SignatureProvided=provided, OSSAccessKeyId=key_id,
                               StringToSignBytes=" ".join("%02x" % b for b in string_to_sign.encode("utf-8")))

    def dispatch(self, bucket, key, query, body, fault):
        state = self.server.state
        with state.lock:
            objects = state.buckets.get(bucket)
        if objects is None:
            raise ServiceError(404, "NoSuchBucket", "The specified bucket does not exist.", BucketName=bucket)
        method = self.command
        if key == "":
            if method == "GET":
                return self.list_objects(bucket, objects, query, fault)
            if method == "POST" and "delete" in query:
                return self.delete_objects(objects, query, body, fault)
            raise ServiceError(405, "MethodNotAllowed", "The specified method is not allowed against this resource.")
        if len(key.encode("utf-8")) > 1023:
            raise ServiceError(400, "KeyTooLong", "Your key is too long.")
        if method in ("GET", "HEAD"):
            return self.get_object(objects, key, fault)
        if method == "PUT" and ("uploadId" in query or "partNumber" in query):
            return self.upload_part(bucket, key, query, body, fault)
        if method == "PUT":
            return self.put_object(objects, key, body, fault)
        if method == "POST" and "uploads" in query:
            return self.initiate(bucket, key, fault)
        if method == "POST" and "uploadId" in query:
            return self.complete(bucket, key, objects, query, body, fault)
        if method == "DELETE" and "uploadId" in query:
            return self.abort(bucket, key, query, fault)
        if method == "DELETE":
            with state.lock:
                objects.pop(key, None)
            return self.send(204, {}, b"", fault)
        raise ServiceError(405, "MethodNotAllowed", "The specified method is not allowed against this resource.")

    def check_md5(self, body):
        provided = self.headers.get("Content-MD5")
        if provided is None:
            return
        try:
            ok = base64.b64decode(provided, validate=True) == hashlib.md5(body).digest()
        except (binascii.Error, ValueError):
            ok = False
        if not ok:
            raise ServiceError(400, "InvalidDigest", "The Content-MD5 you specified is not valid.")

    def user_meta(self):
        return {n: v for n, v in self.headers.items() if n.lower().startswith("x-oss-meta-")}

    def put_object(self, objects, key, body, fault):
        self.check_md5(body)
        state = self.server.state
        stored = StoredObject(body, quoted_md5(body), "Normal",
                              self.headers.get("Content-Type") or "application/octet-stream", self.user_meta())
        with state.lock:
            if self.headers.get("x-oss-forbid-overwrite", "").lower() == "true" and key in objects:
                raise ServiceError(409, "FileAlreadyExists", "The object you specified already exists.")
            objects[key] = stored
        self.send(200, {"ETag": stored.etag, "x-oss-hash-crc64ecma": str(stored.crc)}, b"", fault)

    def get_object(self, objects, key, fault):
        with self.server.state.lock:
            stored = objects.get(key)
        if stored is None:
            raise ServiceError(404, "NoSuchKey", "The specified key does not exist.", Key=key)
        headers = {
            "Content-Type": stored.content_type, "ETag": stored.etag,
            "Last-Modified": email.utils.formatdate(stored.modified, usegmt=True),
            "x-oss-object-type": stored.type, "x-oss-hash-crc64ecma": str(stored.crc), "Accept-Ranges": "bytes",
        }
        headers.update(stored.meta)
        data = stored.data
        byte_range = self.parse_range(len(data))
        if byte_range is None:
            return self.send(200, headers, data, fault)
        first, last = byte_range
        headers["Content-Range"] = "bytes %d-%d/%d" % (first, last, len(data))
        self.send(206, headers, data[first:last + 1], fault)

    def parse_range(self, size):
        text = self.headers.get("Range", "")
        standard = self.headers.get("x-oss-range-behavior", "").lower() == "standard"
        result = None
        if text.startswith("bytes=") and "," not in text:
            first, _, last = text[6:].partition("-")
            try:
                if first == "":
                    n = int(last)
                    result = (max(0, size - n), size - 1) if 0 < n else None
                else:
                    a = int(first)
                    b = int(last) if last else size - 1
                    result = (a, b) if 0 <= a <= b < size else None
            except ValueError:
                result = None
        if text and result is None and standard:
            raise ServiceError(416, "InvalidRange", "The requested range cannot be satisfied")
        return result

    def list_objects(self, bucket, objects, query, fault):
        state = self.server.state
        prefix = query.get("prefix", "")
        marker = query.get("marker", "")
        delimiter = query.get("delimiter", "")
        encoded = query.get("encoding-type") == "url"
        try:
            max_keys = int(query.get("max-keys", "100"))
        except ValueError:
            max_keys = -1
        if not 1 <= max_keys <= 1000:
            raise ServiceError(400, "InvalidArgument", "Argument max-keys must be an integer between 1 and 1000.",
                               ArgumentName="max-keys", ArgumentValue=query.get("max-keys", ""))
        limit = min(max_keys, state.page_limit)
        with state.lock:
            keys = sorted(objects, key=lambda k: k.encode("utf-8"))
            snapshot = {k: objects[k] for k in keys}
        marker_bytes = marker.encode("utf-8")
        entries = []
        truncated = False
        last_prefix = None
        for k in keys:
            if not k.startswith(prefix) or k.encode("utf-8") <= marker_bytes:
                continue
            common = None
            if delimiter:
                position = k.find(delimiter, len(prefix))
                if position >= 0:
                    common = k[:position + len(delimiter)]
                    if common == last_prefix or common.encode("utf-8") <= marker_bytes:
                        continue
            if len(entries) == limit:
                truncated = True
                break
            if common is not None:
                last_prefix = common
                entries.append(("prefix", common))
            else:
                entries.append(("key", k))

        def enc(text):
            return urllib.parse.quote(text, safe="/") if encoded else text

        root = ET.Element("ListBucketResult")
        sub(root, "Name", bucket)
        sub(root, "Prefix", enc(prefix))
        sub(root, "Marker", enc(marker))
        sub(root, "MaxKeys", limit)
        sub(root, "Delimiter", enc(delimiter))
        if encoded:
            sub(root, "EncodingType", "url")
        sub(root, "IsTruncated", "true" if truncated else "false")
        if truncated:
            sub(root, "NextMarker", enc(entries[-1][1]))
        for kind, name in entries:
            if kind != "key":
                continue
            stored = snapshot[name]
            contents = sub(root, "Contents")
            sub(contents, "Key", enc(name))
            sub(contents, "LastModified", iso8601(stored.modified))
            sub(contents, "ETag", stored.etag)
            sub(contents, "Type", stored.type)
            sub(contents, "Size", len(stored.data))
            sub(contents, "StorageClass", "Standard")
            owner = sub(contents, "Owner")
            sub(owner, "ID", "1234567890")
            sub(owner, "DisplayName", "1234567890")
        for kind, name in entries:
            if kind == "prefix":
                sub(sub(root, "CommonPrefixes"), "Prefix", enc(name))
        self.send(200, {"Content-Type": "application/xml"}, xml_bytes(root), fault)

    def initiate(self, bucket, key, fault):
        state = self.server.state
        upload_id = uuid.uuid4().hex.upper()
        with state.lock:
            state.uploads[upload_id] = Upload(bucket, key,
                                              self.headers.get("Content-Type") or "application/octet-stream",
                                              self.user_meta())
        root = ET.Element("InitiateMultipartUploadResult")
        sub(root, "Bucket", bucket)
        sub(root, "Key", key)
        sub(root, "UploadId", upload_id)
        self.send(200, {"Content-Type": "application/xml"}, xml_bytes(root), fault)

    def find_upload(self, bucket, key, query):
        upload_id = query.get("uploadId", "")
        with self.server.state.lock:
            upload = self.server.state.uploads.get(upload_id)
        if upload is None or upload.bucket != bucket or upload.key != key:
            raise ServiceError(404, "NoSuchUpload",
                               "The specified upload does not exist. The upload ID may be invalid, "
                               "or the upload may have been aborted or completed.", UploadId=upload_id)
        return upload_id, upload

    def upload_part(self, bucket, key, query, body, fault):
        if "partNumber" not in query:
            raise ServiceError(400, "InvalidArgument", "Unexpected query string parameter",
                               ArgumentName="partNumber", ArgumentValue="")
        try:
            number = int(query["partNumber"])
        except ValueError:
            number = 0
        if not 1 <= number <= 10000:
            raise ServiceError(400, "InvalidArgument",
                               "Part number must be an integer between 1 and 10000, inclusive.",
                               ArgumentName="PartNumber", ArgumentValue=query["partNumber"])
        _, upload = self.find_upload(bucket, key, query)
        self.check_md5(body)
        etag = quoted_md5(body)
        with self.server.state.lock:
            upload.parts[number] = (bytes(body), etag)
        self.send(200, {"ETag": etag, "x-oss-hash-crc64ecma": str(Crc64.compute(body))}, b"", fault)

    def complete(self, bucket, key, objects, query, body, fault):
        state = self.server.state
        upload_id, upload = self.find_upload(bucket, key, query)
        malformed = ServiceError(400, "MalformedXML",
                                 "The XML you provided was not well-formed or did not validate against our "
                                 "published schema.")
        try:
            root = ET.fromstring(body)
        except ET.ParseError:
            raise malformed
        if root.tag != "CompleteMultipartUpload":
            raise malformed
        listed = []
        for part in root.findall("Part"):
            number_text, etag = part.findtext("PartNumber"), part.findtext("ETag")
            if number_text is None or etag is None:
                raise malformed
            try:
                listed.append((int(number_text.strip()), etag.strip()))
            except ValueError:
                raise malformed
        if not listed:
            raise malformed
        previous = 0
        for number, _ in listed:
            if not 1 <= number <= 10000 or number <= previous:
                raise ServiceError(400, "InvalidPartOrder",
                                   "The list of parts was not in ascending order. The parts list must be "
                                   "specified in order by part number.", UploadId=upload_id)
            previous = number
        with state.lock:
            parts = dict(upload.parts)
        for number, etag in listed:
            stored = parts.get(number)
            if stored is None or stored[1].strip('"').upper() != etag.strip('"').upper():
                raise ServiceError(400, "InvalidPart",
                                   "One or more of the specified parts could not be found or the specified "
                                   "entity tag might not have matched the part's entity tag", UploadId=upload_id,
                                   PartNumber=number, ETag=etag)
        for number, _ in listed[:-1]:
            if len(parts[number][0]) < state.min_part_size:
                raise ServiceError(400, "EntityTooSmall",
                                   "Your proposed upload is smaller than the minimum allowed object size.",
                                   PartNumber=number, MinSizeAllowed=state.min_part_size)
        data = b"".join(parts[number][0] for number, _ in listed)
        digest = hashlib.md5(b"".join(bytes.fromhex(parts[n][1].strip('"')) for n, _ in listed))
        etag = '"%s-%d"' % (digest.hexdigest().upper(), len(listed))
        stored = StoredObject(data, etag, "Multipart", upload.content_type, upload.meta)
        with state.lock:
            objects[key] = stored
            state.uploads.pop(upload_id, None)
        result = ET.Element("CompleteMultipartUploadResult")
        sub(result, "Location", "http://%s.%s/%s" % (bucket, self.headers.get("Host", ""), key))
        sub(result, "Bucket", bucket)
        sub(result, "Key", key)
        sub(result, "ETag", etag)
        self.send(200, {"Content-Type": "application/xml", "x-oss-hash-crc64ecma": str(stored.crc)},
                  xml_bytes(result), fault)

    def abort(self, bucket, key, query, fault):
        upload_id, _ = self.find_upload(bucket, key, query)
        with self.server.state.lock:
            self.server.state.uploads.pop(upload_id, None)
        self.send(204, {}, b"", fault)

    def delete_objects(self, objects, query, body, fault):
        if self.headers.get("Content-MD5") is None:
            raise ServiceError(400, "InvalidDigest", "Missing required header for this request: Content-MD5.")
        self.check_md5(body)
        malformed = ServiceError(400, "MalformedXML",
                                 "The XML you provided was not well-formed or did not validate against our "
                                 "published schema.")
        try:
            root = ET.fromstring(body)
        except ET.ParseError:
            raise malformed
        if root.tag != "Delete":
            raise malformed
        elements = root.findall("Object")
        if not elements or len(elements) > 1000:
            raise malformed
        keys = []
        for element in elements:
            key = element.findtext("Key")
            if key is None:
                raise malformed
            keys.append(key)
        quiet = (root.findtext("Quiet") or "false").strip().lower() == "true"
        with self.server.state.lock:
            for key in keys:
                objects.pop(key, None)
        if quiet:
            return self.send(200, {}, b"", fault)
        encoded = query.get("encoding-type") == "url"
        result = ET.Element("DeleteResult")
        if encoded:
            sub(result, "EncodingType", "url")
        for key in keys:
            sub(sub(result, "Deleted"), "Key", urllib.parse.quote(key, safe="/") if encoded else key)
        self.send(200, {"Content-Type": "application/xml"}, xml_bytes(result), fault)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def control(state, command):
    name = command.get("cmd")
    if name == "fault":
        fault = {k: v for k, v in command.items() if k != "cmd"}
        with state.lock:
            state.faults.append(fault)
        return {"ok": True}
    if name == "clear-faults":
        with state.lock:
            state.faults.clear()
        return {"ok": True}
    if name == "log":
        with state.lock:
            return {"ok": True, "log": list(state.log)}
    if name == "clear-log":
        with state.lock:
            state.log.clear()
        return {"ok": True}
    if name == "config":
        with state.lock:
            state.clock_offset = float(command.get("clock_offset", state.clock_offset))
            state.page_limit = int(command.get("page_limit", state.page_limit))
            state.min_part_size = int(command.get("min_part_size", state.min_part_size))
        return {"ok": True}
    if name == "bucket":
        with state.lock:
            state.buckets.setdefault(command["name"], {})
        return {"ok": True}
    if name == "put":
        data = base64.b64decode(command.get("data", ""))
        stored = StoredObject(data, quoted_md5(data), "Normal", "application/octet-stream", {})
        with state.lock:
            state.buckets.setdefault(command["bucket"], {})[command["key"]] = stored
        return {"ok": True}
    if name == "get":
        with state.lock:
            stored = state.buckets.get(command["bucket"], {}).get(command["key"])
        if stored is None:
            return {"ok": True, "data": None}
        return {"ok": True, "data": base64.b64encode(stored.data).decode(), "etag": stored.etag,
                "type": stored.type, "contentType": stored.content_type, "crc64": str(stored.crc)}
    if name == "stat":
        with state.lock:
            stored = state.buckets.get(command["bucket"], {}).get(command["key"])
        if stored is None:
            return {"ok": True, "exists": False}
        return {"ok": True, "exists": True, "size": len(stored.data), "etag": stored.etag, "type": stored.type,
                "crc64": str(stored.crc)}
    if name == "uploads":
        with state.lock:
            uploads = [{"uploadId": i, "bucket": u.bucket, "key": u.key, "parts": sorted(u.parts)}
                       for i, u in state.uploads.items()]
        return {"ok": True, "uploads": uploads}
    return {"ok": False, "error": "unknown command %r" % name}


def access_key(text):
    key_id, colon, secret = text.partition(":")
    if not key_id or not colon or not secret:
        raise argparse.ArgumentTypeError("%r is not ID:SECRET" % text)
    return key_id, secret


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bucket", action="append", default=[], help="bucket to create (repeatable)")
    parser.add_argument("--key", action="append", default=[], metavar="ID:SECRET", type=access_key,
                        help="access key accepted by the emulator (repeatable)")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: a free one)")
    parser.add_argument("--lifetime", type=float, default=1800, help="seconds until the emulator stops by itself")
    parser.add_argument("--log-file", help="append each request as a JSON line to this file")
    parser.add_argument("--crc64-library", help="shared library with oss_emulator_crc64 for fast CRC-64")
    parser.add_argument("--tls-cert", help="serve HTTPS with this PEM certificate (and --tls-key)")
    parser.add_argument("--tls-key", help="PEM private key of --tls-cert")
    parser.add_argument("--verbose", action="store_true", help="print each request on stderr")
    args = parser.parse_args()
    if args.tls_key and not args.tls_cert:
        parser.error("--tls-key needs --tls-cert")
    context = None
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        try:
            context.load_cert_chain(args.tls_cert, args.tls_key)
        except (OSError, ssl.SSLError) as error:
            parser.error("--tls-cert %s: %s" % (args.tls_cert, error))

    credentials = dict(args.key or [("EXAMPLEKEYID0001", "ExampleSecret0123456789abcdefEXAMPLE")])
    state = State(credentials, args.bucket or ["examplebucket"])
    if args.log_file:
        state.log_file = open(args.log_file, "a", encoding="utf-8")
    if args.crc64_library:
        Crc64.load_native(args.crc64_library)

    server = Server(("127.0.0.1", args.port), Handler)
    server.state = state
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.verbose = args.verbose
    threading.Thread(target=server.serve_forever, daemon=True).start()
    out_lock = threading.Lock()

    def reply(message):
        with out_lock:
            sys.stdout.write(json.dumps(message) + "\n")
            sys.stdout.flush()

    reply({"port": server.server_address[1]})

    # Stop by itself even when nobody closes stdin.
    timer = threading.Timer(args.lifetime, lambda: os._exit(0))
    timer.daemon = True
    timer.start()

    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            command = json.loads(line)
        except ValueError:
            reply({"ok": False, "error": "not JSON"})
            continue
        if command.get("cmd") == "stop":
            reply({"ok": True})
            break
        try:
            reply(control(state, command))
        except (KeyError, ValueError, TypeError) as error:
            reply({"ok": False, "error": str(error)})
    server.shutdown()
    server.server_close()


if __name__ == "__main__":
    main()
