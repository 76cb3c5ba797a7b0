#!/usr/bin/python3
"""tova-recorder --serve through the real program at 127.0.0.2 over HTTPS: the password set on a
terminal, protocol and security cases through an HTTP client, then headless Chromium logging in,
finding, playing and seeking a call and writing its note.   tst_web.py PROGRAM"""
import hashlib, http.client, math, os, pty, re, shutil, ssl, struct, subprocess, sys, tempfile
import sqlite3, threading, time, unittest, urllib.parse, wave

PROGRAM = sys.argv.pop(1)
PASSWORD = 'Telefon-8888'
HOST = '127.0.0.2'
ROOT = tempfile.mkdtemp(prefix='tst_web-', dir=os.getcwd())
BIN = os.path.join(ROOT, 'bin', 'tova-recorder')
FOLDER = os.path.join(ROOT, 'bin', '录音数据')
JOURNAL = os.path.join(FOLDER, '.通话记录', 'journal.sqlite')
ENV = {k: v for k, v in os.environ.items() if k not in ('DISPLAY', 'WAYLAND_DISPLAY')}
ENV.update({'XDG_CONFIG_HOME': ROOT + '/config', 'XDG_DATA_HOME': ROOT + '/data',
            'XDG_CACHE_HOME': ROOT + '/cache', 'QT_QPA_PLATFORM': 'none'})
CALLS = [  # file, number, name, direction, start, seconds
    ('2024-5-6093000.wav', '01088886666', '王经理', '呼入', '2024-05-06T09:30:00', 20),
    ('2024-5-7101500.wav', '13912345678', '<script>alert(1)</script>', '呼入', '2024-05-07T10:15:00', 2),
    ('2024-5-8140000.wav', '02166667777', '', '呼出', '2024-05-08T14:00:00', 3),
]


def journal(statement, *values):
    """What the desktop program's journal holds, read (or written) as another copy would."""
    with sqlite3.connect(JOURNAL, timeout=20) as connection:
        return connection.execute(statement, values).fetchall()


def write_call(name, number, caller, direction, start, seconds, rate=8000):
    """A WAV as the recorder stores it: a tone, with the call's fields in its RIFF INFO tags."""
    path = os.path.join(FOLDER, name)
    with wave.open(path, 'wb') as w:
        w.setnchannels(1), w.setsampwidth(2), w.setframerate(rate)
        w.writeframes(b''.join(struct.pack('<h', int(6000 * math.sin(i / 3)))
                               for i in range(rate * seconds)))
    tags = b''
    for tag, text in (b'INAM', number), (b'IART', caller), (b'ICMT', direction), (b'ICRD', start):
        data = text.encode() + b'\0'
        tags += tag + struct.pack('<I', len(data)) + data + b'\0' * (len(data) % 2)
    with open(path, 'r+b') as f:
        riff = f.read()
        listed = b'LIST' + struct.pack('<I', len(tags) + 4) + b'INFO' + tags
        body = riff[12:36] + listed + riff[36:]  # after the fmt chunk, ahead of the audio
        f.seek(0), f.write(b'RIFF' + struct.pack('<I', len(body) + 4) + b'WAVE' + body)
    return path


def set_password(*answers):
    """--set-web-password on a pseudo-terminal: its exit status and all it showed there."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execve(BIN, [BIN, '--set-web-password'], ENV)
    shown = b''
    for prompts in range(1, len(answers) + 2):
        while shown.decode(errors='ignore').count('：') < prompts:
            try:
                chunk = os.read(fd, 1024)
            except OSError:  # the program has ended
                chunk = b''
            if not chunk:
                break
            shown += chunk
        if prompts <= len(answers):
            os.write(fd, answers[prompts - 1].encode() + b'\n')
    return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]), shown.decode()


class Web(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(FOLDER)
        os.link(PROGRAM, BIN)
        for call in CALLS:
            write_call(*call)
        cls.secret = write_call('../secret.wav', '1', '', '呼入', '2024-01-01T00:00:00', 1)
        os.symlink(cls.secret, os.path.join(FOLDER, 'out.wav'))
        os.symlink(CALLS[2][0], os.path.join(FOLDER, 'in.wav'))
        write_call('.hidden.wav', '1', '', '呼入', '2024-01-01T00:00:00', 1)
        os.mkfifo(os.path.join(FOLDER, 'fifo.wav'))
        os.makedirs(ROOT + '/config/tova')
        with open(ROOT + '/config/tova/tova.conf', 'w') as conf:
            conf.write(f'[web]\nlisten={HOST}:0\n')

    @classmethod
    def tearDownClass(cls):
        if hasattr(cls, 'server'):
            cls.server.terminate()
            cls.server.wait(30)
            cls.server.stdout.close()
        shutil.rmtree(ROOT)

    def request(self, method, path, headers=None, body=None, session=True):
        """Status, headers (lower-case names), body and seconds taken."""
        connection = http.client.HTTPSConnection(HOST, self.port, context=self.tls,
                                                 source_address=(HOST, 0), timeout=20)
        headers = dict(headers or {})
        if session:
            headers['Cookie'] = 'tova_session=' + self.session
        started = time.monotonic()
        connection.request(method, path, body=body, headers=headers,
                           encode_chunked=body is not None and not isinstance(body, (str, bytes)))
        answer = connection.getresponse()
        taken = time.monotonic() - started
        content = answer.read()
        connection.close()
        return answer.status, {k.lower(): v for k, v in answer.getheaders()}, content, taken

    def login(self, password):
        return self.request('POST', '/login', {'Origin': self.origin, 'Content-Type':
                            'application/x-www-form-urlencoded'}, 'password=' + password, False)

    def test_1_password_and_start(self):
        serve = subprocess.run([BIN, '--serve'], env=ENV, capture_output=True, text=True)
        self.assertEqual((serve.returncode, serve.stderr), (1, 'tova-recorder: 还没有设置网页密码。'
                         '请先运行 tova-recorder --set-web-password 设置密码。\n'))
        for answers, status, text in [(('short',), 1, '密码要有8到1024个字符，没有保存。'),
                                      ((PASSWORD, PASSWORD + '!'), 1, '两次输入的密码不一样，没有保存。'),
                                      ((PASSWORD, PASSWORD), 0, '网页密码已保存在 ')]:
            with self.subTest(answers=answers):
                code, shown = set_password(*answers)
                self.assertEqual(code, status, shown)
                self.assertIn(text, shown)
                self.assertNotIn(PASSWORD, shown)  # no echo
        stored = ROOT + '/config/tova/web-password'
        self.assertEqual(os.stat(stored).st_mode & 0o777, 0o600)
        self.assertTrue(open(stored).read().startswith('$argon2id$'))

        Web.server = subprocess.Popen([BIN, '--serve'], env=ENV, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, text=True)
        url, fingerprint = self.server.stdout.readline(), self.server.stdout.readline()
        Web.log = []
        threading.Thread(target=lambda: Web.log.extend(self.server.stderr), daemon=True).start()
        Web.port = int(re.fullmatch(rf'TOVA电话录音系统的网页：https://{HOST}:(\d+)/\n', url)[1])
        Web.origin = f'https://{HOST}:{self.port}'
        certificate = ROOT + '/data/tova/web-certificate.pem'
        self.assertEqual(os.stat(certificate).st_mode & 0o777, 0o600)
        self.assertEqual(os.stat(ROOT + '/data/tova/web-key.pem').st_mode & 0o777, 0o600)
        Web.tls = ssl.create_default_context(cafile=certificate)
        connection = http.client.HTTPSConnection(HOST, self.port, context=self.tls)
        connection.connect()
        seen = hashlib.sha256(connection.sock.getpeercert(True)).hexdigest().upper()
        self.assertEqual(fingerprint, '证书的 SHA-256 指纹：' + ':'.join(re.findall('..', seen)) + '\n')
        connection.close()

    def test_2_login(self):
        for attempt, slowest in (1, 1.0), (2, 2.0):
            status, _, body, taken = self.login('wrong-password')
            self.assertEqual(status, 401)
            self.assertIn('密码不对。', body.decode())
            self.assertGreaterEqual(taken, slowest)
            self.assertIn(f'网页登录密码错误：来自 {HOST}，连续第 {attempt} 次', ''.join(self.log))
        status, headers, _, _ = self.login(PASSWORD)
        self.assertEqual((status, headers['location']), (303, '/'))
        cookie = headers['set-cookie']
        self.assertRegex(cookie, r'^tova_session=[0-9a-f]{64}; Path=/; Max-Age=43200; HttpOnly; '
                         r'SameSite=Strict; Secure$')
        Web.session = cookie.split(';')[0].split('=')[1]
        page = self.request('GET', '/')[2].decode()
        Web.csrf = re.search(r'<meta name="csrf-token" content="([0-9a-f]{64})">', page)[1]

    def test_3_protocol(self):
        size = os.path.getsize(os.path.join(FOLDER, CALLS[0][0]))
        note = {'Origin': self.origin, 'X-CSRF-Token': self.csrf,
                'Content-Type': 'application/x-www-form-urlencoded'}
        a = '/files/' + CALLS[0][0]
        cases = [  # method, path, headers, body, logged in, status, expected headers or body
            ('GET', '/', {}, None, False, 303, {'location': '/login'}),
            ('GET', '/app.js', {}, None, False, 401, {}),
            ('GET', a, {}, None, False, 401, {}),
            ('GET', '/api/calls', {}, None, False, 401, {}),
            ('POST', '/api/note', note, 'id=1&note=x', False, 401, {}),
            ('GET', '/style.css', {}, None, False, 200, {'content-type': 'text/css'}),
            ('GET', '/login', {}, None, False, 200, {'body': 'name="password"', 'x-frame-options':
                                                    'DENY', 'content-security-policy': "script-src 'self'"}),
            ('GET', '/', {}, None, True, 200, {'body': '通话记录'}),
            ('GET', '/admin', {}, None, True, 404, {}),
            ('GET', '/api/calls?q=' + CALLS[1][1], {}, None, True, 200,
             {'body': r'"name":"\u003cscript\u003ealert(1)\u003c/script\u003e"'}),
            ('PUT', '/', {}, 'x', True, 405, {}),
            ('GET', a, {}, None, True, 200, {'content-length': str(size), 'accept-ranges': 'bytes',
                                             'content-type': 'audio/wav'}),
            ('GET', a, {'Range': 'bytes=0-99'}, None, True, 206,
             {'content-range': f'bytes 0-99/{size}', 'content-length': '100'}),
            ('GET', a, {'Range': 'bytes=100-'}, None, True, 206,
             {'content-range': f'bytes 100-{size - 1}/{size}'}),
            ('GET', a, {'Range': 'bytes=-10'}, None, True, 206,
             {'content-range': f'bytes {size - 10}-{size - 1}/{size}', 'content-length': '10'}),
            ('GET', a, {'Range': f'bytes={size}-{size + 9}'}, None, True, 416, {'content-range': f'bytes */{size}'}),
            ('GET', a, {'Range': 'bytes=ten-twenty'}, None, True, 416, {'content-range': f'bytes */{size}'}),
            ('GET', a, {'Range': 'bytes=0-1,5-6'}, None, True, 416, {}),
            ('GET', a + '?download=1', {}, None, True, 200,
             {'content-disposition': "attachment; filename*=UTF-8''" + CALLS[0][0]}),
            ('GET', '/files/in.wav', {}, None, True, 200, {}),
            ('GET', '/files/out.wav', {}, None, True, 404, {}),
            ('GET', '/files/..%2Fsecret.wav', {}, None, True, 404, {}),
            ('GET', '/files/../secret.wav', {}, None, True, 404, {}),
            ('GET', '/files/%2E%2E', {}, None, True, 404, {}),
            ('GET', '/files/.hidden.wav', {}, None, True, 404, {}),
            ('GET', '/files/fifo.wav', {}, None, True, 404, {}),
            ('GET', '/files/missing.wav', {}, None, True, 404, {}),
            ('GET', a + '%00.txt', {}, None, True, 404, {}),
            ('POST', '/api/note', {**note, 'Origin': 'https://evil.example'}, 'id=1', True, 403, {}),
            ('POST', '/api/note', {**note, 'Sec-Fetch-Site': 'cross-site'}, 'id=1', True, 403, {}),
            ('POST', '/api/note', {**note, 'X-CSRF-Token': '0' * 64}, 'id=1', True, 403, {}),
            ('POST', '/api/note', {k: note[k] for k in ('Origin', 'Content-Type')}, 'id=1', True, 403, {}),
            ('POST', '/login', {'Origin': 'https://evil.example'}, 'password=' + PASSWORD, False, 403, {}),
            ('POST', '/login', {'Origin': self.origin, 'Content-Length': '10000000'}, None, False, 413, {}),
            ('POST', '/login', {'Origin': self.origin}, (b'x' * 65536 for _ in range(4)), False, 413, {}),
        ]
        for method, path, headers, body, session, status, expected in cases:
            with self.subTest(method=method, path=path, headers=headers):
                got, answer, content, _ = self.request(method, path, headers, body, session)
                self.assertEqual(got, status, content)
                for name, text in expected.items():
                    self.assertIn(text, content.decode() if name == 'body' else answer[name])
                self.assertEqual(answer['x-content-type-options'], 'nosniff')

    def test_4_removed_while_playing(self):
        path = write_call('long.wav', '1', '', '呼入', '2024-01-02T00:00:00', 60)
        connection = http.client.HTTPSConnection(HOST, self.port, context=self.tls)
        connection.request('GET', '/files/long.wav', headers={'Cookie': 'tova_session=' + self.session})
        answer = connection.getresponse()
        first = answer.read(65536)
        os.unlink(path)
        self.assertEqual(len(first) + len(answer.read()), int(answer.getheader('Content-Length')))
        connection.close()
        self.assertEqual(self.request('GET', '/files/long.wav')[0], 404)

    def test_5_browser(self):
        """Chromium as a user at another desk: log in, find a call by number, play it, seek, and
        write a note that the journal holds."""
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        from selenium.webdriver.support.ui import WebDriverWait
        options = webdriver.ChromeOptions()
        # As root Chromium needs --no-sandbox; the rest keep it from any host but the server.
        for flag in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic',
                     '--no-first-run', '--disable-background-networking', '--disable-sync',
                     '--disable-component-update', '--user-data-dir=' + ROOT + '/chromium',
                     f'--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE {HOST}'):
            options.add_argument(flag)
        options.accept_insecure_certs = True  # the fingerprint is the HTTP client's to check
        browser = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
        self.addCleanup(browser.quit)
        wait = WebDriverWait(browser, 20)
        find = lambda selector: browser.find_element(By.CSS_SELECTOR, selector)
        js = browser.execute_script
        browser.get(self.origin + '/')
        find('#password').send_keys(PASSWORD + Keys.ENTER)
        wait.until(lambda _: find('#count').text.startswith('共 '))
        rows = lambda: js('return [...document.querySelectorAll("#calls tbody tr")].map('
                          'tr => [...tr.cells].slice(0, 8).map(td => td.textContent))')
        # The links and odd files of the protocol cases are the journal's calls too.
        ours = lambda: [row for row in rows() if row[7] in [call[0] for call in CALLS]]
        wait.until(lambda _: len(ours()) == len(CALLS))
        self.assertEqual([row[3] for row in ours()], [call[1] for call in reversed(CALLS)])
        self.assertEqual(ours()[1][4], CALLS[1][2])  # shown as text, not run
        find('#search').send_keys(CALLS[0][1][-6:])
        wait.until(lambda _: len(rows()) == 1)
        self.assertEqual(rows()[0], ['6 May 2024', '09:30:00', '呼入', '01088886666', '王经理',
                                     '20 秒', '', CALLS[0][0]])
        find('#calls tbody button.play').click()
        position = lambda: js('return document.getElementById("player").currentTime')
        wait.until(lambda _: position() > 0.5)
        js('document.getElementById("player").currentTime = 15')
        wait.until(lambda _: position() > 15.2)
        note = find('#calls tbody td.note input')
        note.send_keys('订单已确认' + Keys.TAB)
        wait.until(lambda _: note.get_attribute('title') == '已保存')
        self.assertEqual(journal('SELECT note FROM calls WHERE file = ?', CALLS[0][0].encode()),
                         [('订单已确认',)])
        # A note written at the desk shows here at the next look.
        journal('UPDATE calls SET note = ? WHERE file = ?', '已回电', CALLS[2][0].encode())
        find('#search').clear()
        find('#direction option:nth-child(3)').click()  # 呼出
        wait.until(lambda _: [row[3] for row in rows()][:1] == [CALLS[2][1]])
        wait.until(lambda _: find('#calls tbody td.note input').get_attribute('value') == '已回电')

    def test_6_journal_held(self):
        """Another program's write transaction: the note waits for it, then says it was not
        saved, and the list asked meanwhile says the journal is held; once it is free the note
        is saved."""
        held = sqlite3.connect(JOURNAL, isolation_level=None)
        held.execute('BEGIN IMMEDIATE')
        call = journal('SELECT id FROM calls WHERE file = ?', CALLS[1][0].encode())[0][0]
        note = lambda: self.request('POST', '/api/note', {
            'Origin': self.origin, 'X-CSRF-Token': self.csrf,
            'Content-Type': 'application/x-www-form-urlencoded'},
            urllib.parse.urlencode({'id': call, 'note': '稍后回电'}))
        answers = []
        writer = threading.Thread(target=lambda: answers.append(note()))
        writer.start()
        listed = []  # asked until the note's answer: one of them while the note waits
        while writer.is_alive():
            listed.append(self.request('GET', '/api/calls')[::2])
        writer.join()
        held.rollback()
        held.close()
        busy = '通话记录正被另一个程序占用，请稍后再试。'
        self.assertIn((503, (busy + '\n').encode()), listed)
        self.assertEqual((answers[0][0], answers[0][2].decode()), (503, '备注没有保存：' + busy + '\n'))
        self.assertEqual(note()[0], 200)
        self.assertEqual(journal('SELECT note FROM calls WHERE id = ?', call), [('稍后回电',)])

    def test_9_logout(self):
        headers = {'Origin': self.origin, 'Content-Type': 'application/x-www-form-urlencoded'}
        status, answer, _, _ = self.request('POST', '/logout', headers, 'csrf=' + self.csrf)
        self.assertEqual((status, answer['location']), (303, '/login'))
        self.assertIn('Max-Age=0', answer['set-cookie'])
        self.assertEqual(self.request('GET', '/')[:2][0], 303)


if __name__ == '__main__':
    unittest.main(verbosity=2, failfast=False)
