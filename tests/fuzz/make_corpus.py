#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/ (run from anywhere;
the output is committed). Seeds are the shapes the readers meet in use, plus a few
hostile forms the readers must refuse."""
import base64, json, os, shutil, stat, subprocess, sys, tempfile, zipfile

here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "corpus")


def put(target, name, data):
    d = os.path.join(out, target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def js(value):
    return json.dumps(value, ensure_ascii=False, indent=3)


# Wine registry files.
reg = ("WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
       "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Demo] 1700000000\n"
       "#time=1d9a1b2c3d4e5f6\n"
       "\"DisplayName\"=\"\\x5f00\\x7968\\x8f6f\\x4ef6 3.0\"\n"
       "\"DisplayVersion\"=\"3.0.25\"\n"
       "\"InstallLocation\"=str(2):\"C:\\\\Program Files\\\\Demo\\0\"\n"
       "\"Paths\"=str(7):\"C:\\\\a\\0C:\\\\b\\0\\0\"\n"
       "\"EstimatedSize\"=dword:00001f40\n"
       "\"Blob\"=hex:01,02,03,\\\n  04,05\n"
       "@=\"default\"\n\n")
put("wine_registry", "system_win32.reg", reg)
put("wine_registry", "system_win64.reg",
    reg.replace("#arch=win32", "#arch=win64").replace("[Software\\\\", "[Software\\\\Wow6432Node\\\\"))
put("wine_registry", "user.reg",
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
    "[Software\\\\Wine\\\\Drives] 1700000000\n\"c:\"=\"hd\"\n\n"
    "[Control Panel\\\\International] 1700000000\n\"Locale\"=\"00000804\"\n"
    "\"sShortDate\"=hex(2):79,00,79,00,00,00\n")

# PE images with and without a version resource.
cxx = shutil.which("i686-w64-mingw32-g++")
windres = shutil.which("i686-w64-mingw32-windres")
pe_src = os.path.join(here, "..", "support", "pe")
if cxx and windres:
    with tempfile.TemporaryDirectory() as t:
        subprocess.check_call([windres, "-DVER_A=3", "-DVER_B=25", "-DVER_C=60001", "-DVER_D=7",
                               os.path.join(pe_src, "version.rc"), "-O", "coff", "-o",
                               os.path.join(t, "v.o")])
        subprocess.check_call([cxx, "-Os", "-s", os.path.join(pe_src, "stub.cpp"),
                               os.path.join(t, "v.o"), "-o", os.path.join(t, "v.exe")])
        subprocess.check_call([cxx, "-Os", "-s", os.path.join(pe_src, "stub.cpp"), "-o",
                               os.path.join(t, "plain.exe")])
        for n in ("v.exe", "plain.exe"):
            put("pe_version", n, open(os.path.join(t, n), "rb").read())
else:
    print("mingw-w64 missing: pe_version seeds kept as they are", file=sys.stderr)


# Zip archives: the backup's own shape, and the hostile forms the reader refuses.
def zip_bytes(entries, compression=zipfile.ZIP_DEFLATED):
    with tempfile.TemporaryDirectory() as t:
        p = os.path.join(t, "a.zip")
        with zipfile.ZipFile(p, "w", compression) as z:
            for name, data, mode in entries:
                info = zipfile.ZipInfo(name, date_time=(2024, 5, 1, 12, 0, 0))
                info.compress_type = compression
                info.create_system = 3
                info.external_attr = mode << 16
                z.writestr(info, data)
        return open(p, "rb").read()


d, f, l = stat.S_IFDIR | 0o755, stat.S_IFREG | 0o644, stat.S_IFLNK | 0o777
put("zip_reader", "backup.zip", zip_bytes([("data/", b"", d), ("data/a.txt", b"hello " * 40, f),
                                           ("data/sub/", b"", d), ("data/sub/b.bin", bytes(range(256)), f)]))
put("zip_reader", "stored.zip", zip_bytes([("data/", b"", d), ("data/x", b"plain", f)], zipfile.ZIP_STORED))
put("zip_reader", "backslash.zip", zip_bytes([("data\\", b"", d), ("data\\y.txt", b"y", f)]))
put("zip_reader", "dotdot.zip", zip_bytes([("data/", b"", d), ("data/../../evil", b"x", f)]))
put("zip_reader", "absolute.zip", zip_bytes([("/tmp/evil", b"x", f)]))
put("zip_reader", "link.zip", zip_bytes([("data/", b"", d), ("data/l", b"../..", l), ("data/l/z", b"z", f)]))
put("zip_reader", "empty.zip", zip_bytes([]))

# settings.json (first byte even) and `config` (odd; key spliced in by the target).
put("settings", "settings.json", b"\0" + js({"serviceUrl": "http://127.0.0.1:8080", "tlsVerify": False,
                                           "httpTimeoutMs": 5000, "objectStoreUrl": "http://127.0.0.1:9000"}).encode())
put("settings", "settings_empty.json", b"\0{}")
config = {"autoLogin": True, "rememPw": 1, "role": 0, "account": "13800138000",
          "usList": [{"us": "13800138000", "pw": "secret"}, {"us": "13900139000", "pw": ""}]}
put("settings", "config", b"\1" + base64.b64encode(json.dumps(config).encode()) + b"\r\n")
put("settings", "config_not_json", b"\1" + base64.b64encode(b"{\"usList\": [") + b"\r\n")

# Service answers.
for name, value in {
    "ok.json": {"code": 0, "message": "成功"},
    "code_text.json": {"code": "0", "message": "ok"},
    "code_fail.json": {"code": "1001", "message": "账号或密码错误"},
    "invalid_token.json": {"error": "invalid_token", "error_description": "expired"},
    "real_code.json": {"code": 0.0},
    "code_negative_zero.json": {"code": "-0"},
}.items():
    put("service_reply", name, js(value))

# Portal documents (first byte: even Fpdk, odd Etax).
areas = ["深圳", "厦门", "宁波", "大连", "青岛", "北京", "重庆", "上海", "天津"]
doc = {a: "https://portal.example.cn/%d" % i for i, a in enumerate(areas)}
put("portal", "fpdk.json", b"\0" + js(doc).encode())
put("portal", "etax_partial.json", b"\1" + js({"北京": 5, "上海": "file:///etc/passwd", "备注": "partial"}).encode())
put("portal", "empty.json", b"\0{}")
put("portal", "array.json", b"\1[\"https://portal.example.cn/0\"]")

# Backup service replies (first byte: 0 upload ticket, 1 list, 2 download, 3 names).
info = json.dumps({"appVer": "3.0.25", "dirName": "91110108MA01ABCD1X.0", "taxSn": "91110108MA01ABCD1X",
                   "subSn": "0", "taxerName": "北京示例科技有限公司", "typeStrEn": "JSP",
                   "account": "13800138000", "PCName": "DESKTOP-1"}, ensure_ascii=False, separators=(",", ":"))
backup = {
    "ticket.json": (0, {"code": 0, "bucketName": "talvora-backup", "fileCloudPath": "backups/13800138000/a.zip",
                        "fileId": 1234567890123, "auth": {"access": "AK", "expiresAt": "2030-01-01T00:00:00Z",
                                                          "secret": "SK", "securitytoken": "TOKEN"}}),
    "ticket_null_auth.json": (0, {"bucketName": "b", "fileCloudPath": "k", "fileId": 7, "auth": None}),
    "ticket_refused.json": (0, {"code": "1", "message": "额度不足"}),
    "list.json": (1, {"code": 0, "list": [
        {"fileId": 11, "fileSize": 52345, "fileName": "91110108MA01ABCD1X.0_20240501120000.zip",
         "fileTime": "2024-05-01 12:00:00", "bakEndTime": "2024-05-01 12:01:00", "fileInfo": info},
        {"fileId": 12.5, "fileSize": "9", "fileName": 3, "fileTime": "", "fileInfo": "{not json"},
        7]}),
    "list_invalid_token.json": (1, {"error": "invalid_token"}),
    "download.json": (2, {"code": 0, "fileUrl": "http://127.0.0.1:9000/talvora-backup/a.zip?X-Amz-Signature=0",
                          "fileMd5": "d41d8cd98f00b204e9800998ecf8427e"}),
    "download_error.json": (2, {"error": "invalid_token"}),
    "names.json": (3, [{"name": "北京示例科技有限公司", "creditCode": "91110108MA01ABCD1X"},
                       {"name": "深圳示例有限公司", "creditCode": "91440300MA5F8QRS3P"}]),
    "names_refused.json": (3, {"code": 500, "message": "busy"}),
    "names_bad_item.json": (3, [{"name": 1, "creditCode": None}]),
}
for name, (sel, value) in backup.items():
    put("backup_replies", name, bytes([sel]) + js(value).encode())

# Update list (first byte even) and catalogue (odd).
put("software_replies", "update_list.json", b"\0" + js({"UpdateList": [
    {"name": "Talvora", "version": "1.0.2.0", "filename": "Talvora_v1.0.2.0_amd64.deb",
     "url": "https://obs.example.cn/pc", "md5sum": "d41d8cd98f00b204e9800998ecf8427e", "board": "",
     "date": "2024-05-01", "description": "修复", "level": "1", "type": "deb", "autoupdate": 1,
     "autoupdatetime": "03:00"},
    {"name": "Talvora", "version": "99999999999.1", "filename": "../evil"},
    {"name": "Other", "version": "9.9"}]}).encode())
put("software_replies", "catalogue.json", b"\1" + ("// published list\n" + js({"appList": [
    {"name": "开票软件(金税盘版)", "png": "jsp.png", "url": "https://obs.example.cn/jsp.exe",
     "md5": "d41d8cd98f00b204e9800998ecf8427e", "newver": "3.0.25"},
    {"name": "税务UKey开票软件", "png": "ukey.png", "url": "https://obs.example.cn/ukey.exe", "newver": "0"},
    "not an object"]})).encode())

# Sign-in replies (first byte: 0 password sign-in, 1 QR request, 2 QR poll).
account = {
    "signin_ok.json": (0, {"access_token": "eyJhbGciOi.a.b", "refresh_token": "eyJhbGciOi.c.d",
                           "token_type": "bearer", "expires_in": 7199}),
    "signin_refused.json": (0, {"code": "1001", "message": "账号或密码错误"}),
    "signin_half.json": (0, {"access_token": "a"}),
    "qr.json": (1, {"qrUrl": "https://mp.example.cn/q/abc", "sceneStr": "scene-\"1\"\\n"}),
    "poll_wait.json": (2, {"scaned": False}),
    "poll_unbound.json": (2, {"scaned": True, "mobBinded": False}),
    "poll_ok.json": (2, {"scaned": True, "mobBinded": True, "mobile": "13800138000",
                         "auth": {"access_token": "a", "refresh_token": "r"}}),
    "poll_no_auth.json": (2, {"scaned": True, "mobBinded": True, "auth": "x"}),
}
for name, (sel, value) in account.items():
    put("account_replies", name, bytes([sel]) + js(value).encode())

# Hostile JSON for every JSON reader: nesting far past the reader's limit and numbers
# beyond every integer type, for each reply kind a target chooses by its first byte.
deep_array = "[" * 5000 + "]" * 5000
deep_object = '{"a":' * 3000 + "1" + "}" * 3000
two64, e19 = "18446744073709551616", "1e19"
json_targets = {  # target: (selector bytes, huge-number shapes)
    "service_reply": ([b""], ['{"code":%s,"message":"m"}' % two64, '{"code":%s}' % e19]),
    "account_replies": ([b"\0", b"\1", b"\2"],
                        ['{"code":%s,"access_token":"a","refresh_token":"r"}' % e19,
                         '{"scaned":true,"mobBinded":true,"mobile":%s,"auth":{"access_token":%s}}'
                         % (two64, e19)]),
    "backup_replies": ([b"\0", b"\1", b"\2", b"\3"],
                       ['{"code":0,"bucketName":"b","fileCloudPath":"k","fileId":%s}' % two64,
                        '{"code":%s,"list":[{"fileId":%s,"fileSize":%s,"fileTime":"t",'
                        '"bakEndTime":"b","fileInfo":"%s"}]}'
                        % (e19, two64, e19, '{\\"a\\":' * 3000 + "1" + "}" * 3000)]),
    "software_replies": ([b"\0", b"\1"],
                         ['{"UpdateList":[{"name":"Talvora","version":"9.9","filename":"a.deb",'
                          '"autoupdate":%s}],"appList":[{"name":%s,"newver":%s}]}' % (e19, two64, e19)]),
    "portal": ([b"\0", b"\1"], ['{"北京":%s,"上海":%s}' % (two64, e19)]),
}
for target, (selectors, numbers) in json_targets.items():
    for sel in selectors:
        tag = "_%d" % sel[0] if sel else ""
        put(target, "deep_array%s.json" % tag, sel + deep_array.encode())
        put(target, "deep_object%s.json" % tag, sel + deep_object.encode())
        for i, text in enumerate(numbers):
            put(target, "huge_numbers%s_%d.json" % (tag, i), sel + text.encode())
# settings.json (even first byte) and `config` (odd, base64 of the JSON).
huge_settings = ('{"httpTimeoutMs":%s,"httpStallSeconds":%s,"downloadLowSpeedBytes":-%s,'
                 '"downloadConnectTimeoutMs":9223372036854775808}' % (two64, e19, e19))
huge_config = ('{"autoLogin":true,"rememPw":%s,"area":%s,"role":%s,"utf8":%s,'
               '"usList":[{"us":%s,"pw":"p"}]}' % (two64, e19, two64, e19, e19))
for name, text in {"deep_array": deep_array, "deep_object": deep_object,
                   "huge_numbers": huge_settings}.items():
    put("settings", name + ".json", b"\0" + text.encode())
for name, text in {"deep_array": deep_array, "deep_object": deep_object,
                   "huge_numbers": huge_config}.items():
    put("settings", "config_" + name, b"\1" + base64.b64encode(text.encode()) + b"\r\n")
