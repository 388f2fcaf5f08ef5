<?php
// Tests of the PHP client against the real vexlink and the host emulator on loopback.
//   php client_test.php NAME VEXLINK HOSTEMU SAMPLE_DIR
// Each test starts its own emulator (free port) and ends every process it started.
declare(strict_types=1);

require_once __DIR__ . '/harness.php';

use Vexlink\Client;
use Vexlink\ConfigException;
use Vexlink\RequestFailedException;
use Vexlink\RunEndedException;

const TESTS = [
    'list_datasets', 'list_members', 'download_text', 'download_hex', 'download_binary', 'upload_roundtrip',
    'upload_binary_roundtrip', 'modify', 'submit', 'delete', 'allocate', 'set_options', 'send_text', 'ping',
    'close', 'wrong_password', 'host_never_answers', 'failed_download', 'download_cut_off', 'start_refused',
];

/** The expected text download of a fixed-length data set: trailing blanks go. */
function fbText(array $lines): string
{
    return implode('', array_map(fn($l) => rtrim($l, ' ') . "\n", $lines));
}

function test_list_datasets(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $catalog = [];
        foreach ($env->seedLines('catalog.txt') as $l) {
            if ($l !== '' && $l[0] !== '#') {
                $catalog[] = preg_split('/\s+/', trim($l))[0];
            }
        }
        sort($catalog);
        $names = $c->listDatasets('VEXUSR1.**');
        sort($names);
        checkSame($catalog, $names, 'every catalogued data set is listed');
        $full = $c->listDatasets('VEXUSR1.JCL', true);
        checkSame(1, count($full), 'one line for one name');
        check(str_ends_with($full[0], 'VEXUSR1.JCL') && str_contains($full[0], ' PO '),
            'the full line ends with the name and shows the organisation: ' . $full[0]);
        checkSame([], $c->listDatasets('NOBODY.*'), 'no match gives no lines');
        $e = expectThrow(RequestFailedException::class, fn() => $c->listDatasets('(((' ), 'a bad pattern');
        check($e->returnCode !== 0, 'the host message of a bad pattern carries its return code');
        // The run goes on after a failed request.
        checkSame($names, (function () use ($c) { $n = $c->listDatasets('VEXUSR1.**'); sort($n); return $n; })(),
            'the same list after the failure');
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_list_members(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $expected = array_values(array_diff(scandir($paths['sample'] . '/seed/VEXUSR1.JCL'), ['.', '..']));
        sort($expected);
        checkSame($expected, $c->listMembers('VEXUSR1.JCL'), 'the members of the library');
        $full = $c->listMembers('VEXUSR1.JCL', true);
        checkSame(count($expected), count($full), 'one full line per member');
        foreach ($full as $i => $line) {
            check(str_starts_with($line, $expected[$i]), "full line $i names the member: $line");
        }
        checkSame(['HELLO'], $c->listMembers("'VEXUSR1.JCL(HEL*)'"), 'a member pattern');
        $e = expectThrow(RequestFailedException::class, fn() => $c->listMembers('VEXUSR1.NO.SUCH.LIB'),
            'a library that does not exist');
        check($e->returnCode !== null && $e->returnCode > 0, 'its return code: ' . $e->getMessage());
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_download_text(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $seed = $env->seedLines('VEXUSR1.DEMO.DATA');
        checkSame(fbText($seed), $c->download('VEXUSR1.DEMO.DATA'), 'text download of a fixed-length data set');
        checkSame(fbText($env->seedLines('VEXUSR1.JCL/HELLO')), $c->download("'VEXUSR1.JCL(HELLO)'"),
            'a member');
        checkSame('', $c->download('VEXUSR1.DEMO.EMPTY'), 'an empty data set gives an empty text');

        // A larger file, with progress reported while it grows and the same bytes at the end.
        $lines = [];
        for ($i = 1; $i <= 3000; $i++) {
            $lines[] = sprintf('LINE %05d %s', $i, str_repeat(chr(65 + $i % 26), $i % 60));
        }
        $local = $env->write('big.txt', implode("\n", $lines) . "\n");
        $c->upload($local, 'VEXUSR1.PHP.BIG', 'text', 'RECFM(V,B) LRECL(255)');
        $calls = [];
        $saved = $c->download('VEXUSR1.PHP.BIG', 'text', function (?int $records, int $bytes) use (&$calls) {
            $calls[] = [$records, $bytes];
        }, $env->dir . '/big.back');
        checkSame($env->dir . '/big.back', $saved, 'saveTo gives the path');
        checkSame(file_get_contents($local), file_get_contents($saved), 'the saved download');
        check(count($calls) >= 1, 'progress was reported');
        [$lastRecords, $lastBytes] = end($calls);
        checkSame([3000, filesize($local)], [$lastRecords, $lastBytes], 'the last progress call counts everything');
        for ($i = 1; $i < count($calls); $i++) {
            check($calls[$i][1] >= $calls[$i - 1][1] && $calls[$i][0] >= $calls[$i - 1][0],
                'progress never goes back');
        }
        checkSame(0, $c->close(), 'close');
        $work = $c->workPath();
        $env->release($c);
        unset($c);
        clearstatcache();
        check(!file_exists($work), 'the work directory is gone after the run');
    } finally {
        $env->stop();
    }
}

function test_download_hex(array $paths): void
{
    $env = new Env($paths);
    try {
        $text = $env->started()->download('VEXUSR1.DEMO.DATA');
        $c = $env->started(['downloadFormat' => 'HEX']);
        $hex = $c->download('VEXUSR1.DEMO.DATA', 'hex');
        $lines = explode("\n", rtrim($hex, "\n"));
        foreach ($lines as $l) {
            check((bool)preg_match('/^([0-9A-F]{2})*$/', $l), "a line of upper-case hex digit pairs: $l");
        }
        checkSame($text, implode('', array_map(fn($l) => hex2bin($l) . "\n", $lines)),
            'the hex image holds the same records as the text download');
        checkSame($text, $c->download('VEXUSR1.DEMO.DATA'), 'a text download in a hex run is decoded');
        check(in_array('VEXUSR1.DEMO.DATA', $c->listDatasets('VEXUSR1.**'), true), 'lists are decoded too');
        checkSame(0, $c->close(), 'close');
        $plain = $env->started();
        expectThrow(ConfigException::class, fn() => $plain->download('VEXUSR1.DEMO.DATA', 'hex'),
            'hex in a run that was not started for it');
        checkSame(0, $plain->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_download_binary(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $seed = $env->seedLines('VEXUSR1.DEMO.DATA');
        $bin = $c->download('VEXUSR1.DEMO.DATA', 'binary', function (?int $records, int $bytes) use (&$seen) {
            $seen = [$records, $bytes];
        });
        checkSame(count($seed) * 80, strlen($bin), 'binary: fixed 80-byte records without separators');
        checkSame([null, strlen($bin)], $seen, 'binary progress has no record count');
        $pc = iconv('IBM1141', 'ISO-8859-1', $bin);
        checkSame(implode('', array_map(fn($l) => str_pad($l, 80), $seed)), $pc,
            'the records are the host bytes (EBCDIC 1141) of the seed lines, blank-padded');
        // Binary mode is switched off again: the next text download is translated.
        checkSame(fbText($seed), $c->download('VEXUSR1.DEMO.DATA'), 'text mode again after binary');
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_upload_roundtrip(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $content = "first line\n  indented, with 'quotes' and \"double\"\n\nafter an empty line\n"
            . str_repeat('x', 200) . "\nlast\n";
        $local = $env->write('up.txt', $content);
        $msg = $c->upload($local, 'VEXUSR1.PHP.RNDTRIP', 'text', 'RECFM(V,B) LRECL(255)');
        check(str_contains($msg, 'RC=0') && str_contains($msg, 'ROWS=6'), "the host stored 6 rows: $msg");
        checkSame($content, $c->download('VEXUSR1.PHP.RNDTRIP'), 'the same bytes come back');
        // Into a member of a fixed-length library.
        $jcl = "//UPJOB    JOB (ACCT),'PHP',CLASS=A\n//STEP1    EXEC PGM=IEFBR14\n";
        $c->upload($env->write('up.jcl', $jcl), "'VEXUSR1.JCL(UPJOB)'");
        check(in_array('UPJOB', $c->listMembers('VEXUSR1.JCL'), true), 'the new member is listed');
        checkSame($jcl, $c->download("'VEXUSR1.JCL(UPJOB)'"), 'the member comes back');
        // A record longer than the data set takes: the host refuses, nothing is reported as stored.
        $e = expectThrow(RequestFailedException::class,
            fn() => $c->upload($env->write('long.txt', str_repeat('y', 81) . "\n"), 'VEXUSR1.DEMO.DATA'),
            'a line longer than LRECL 80');
        check($e->returnCode > 0, 'refused with a return code: ' . $e->getMessage());
        checkSame(fbText($env->seedLines('VEXUSR1.DEMO.DATA')), $c->download('VEXUSR1.DEMO.DATA'),
            'the refused upload changed nothing');
        expectThrow(ConfigException::class, fn() => $c->upload($env->dir . '/no-such-file', 'VEXUSR1.X'),
            'a local file that does not exist');
        checkSame('still here', $c->ping('still here'), 'the run goes on');
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_upload_binary_roundtrip(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        mt_srand(20260);
        $bytes = '';
        for ($i = 0; $i < 5000; $i++) {
            $bytes .= chr(mt_rand(0, 255));
        }
        $bytes .= "\n"; // every piece ends with a line feed, the last one too
        $local = $env->write('up.bin', $bytes);
        $c->upload($local, 'VEXUSR1.PHP.BINARY', 'binary', 'RECFM(U) BLKSIZE(32760)');
        checkSame(bin2hex($bytes), bin2hex($c->download('VEXUSR1.PHP.BINARY', 'binary')),
            'binary upload and download give back the same bytes');
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_modify(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $seed = $env->seedLines('VEXUSR1.DEMO.DATA');
        $more = "APPENDED RECORD 1\nAPPENDED RECORD 2\n";
        $msg = $c->modify('VEXUSR1.DEMO.DATA APPEND', $env->write('more.txt', $more));
        check(str_contains($msg, 'ROWS=2'), "two rows stored: $msg");
        checkSame(fbText($seed) . $more, $c->download('VEXUSR1.DEMO.DATA'), 'the records were appended');
        // Without a file: an empty upload empties the data set.
        $c->modify('VEXUSR1.DEMO.DATA');
        checkSame('', $c->download('VEXUSR1.DEMO.DATA'), 'emptied');
        $e = expectThrow(RequestFailedException::class, fn() => $c->modify('VEXUSR1.DEMO.DATA NOSUCHOPTION'),
            'an option the host does not know');
        check($e->returnCode > 0, $e->getMessage());
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_submit(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $job = $c->submit(file_get_contents($paths['sample'] . '/seed/VEXUSR1.JCL/WARN'), true);
        check((bool)preg_match('/^JOB\d{5}$/', $job->jobId), 'a job id: ' . $job->jobId);
        checkSame('WARN', $job->jobName, 'the job name');
        checkSame(4, $job->conditionCode, 'the completion as a number');
        check(!$job->succeeded(), 'CC 4 is no success');
        check(isset($job->output['JESMSGLG']), 'the job log is there: ' . implode(',', array_keys($job->output)));
        check(str_contains($job->output['STEP1.SYSPRINT'] ?? '', 'THIS JOB ENDS WITH A WARNING'),
            'the step output by DD holds the echoed input');

        $ok = $c->submit("'VEXUSR1.JCL(COPY)'", true);
        checkSame(0, $ok->conditionCode, 'COPY ends with CC 0');
        check($ok->succeeded(), 'and succeeds');
        // SYSOUT keeps the records whole: 80 bytes each.
        checkSame(implode('', array_map(fn($l) => str_pad($l, 80) . "\n", $env->seedLines('VEXUSR1.DEMO.DATA'))),
            $ok->output['STEP2.SYSUT2'] ?? null, 'the copied data in the output of step 2');

        $bad = $c->submit("'VEXUSR1.JCL(BADJCL)'", true);
        check($bad->jclError && $bad->conditionCode === null, 'JCL ERROR: ' . $bad->completion);
        $crash = $c->submit("'VEXUSR1.JCL(CRASH)'", true);
        checkSame('S0C7', $crash->abendCode, 'the abend code');

        $quick = $c->submit("'VEXUSR1.JCL(HELLO)'");
        check(!$quick->ended && $quick->jobId !== $job->jobId, 'without waiting: only the id');
        check(in_array($quick->jobId, $c->listDatasets('JES'), true), 'the job is in the job list');

        $e = expectThrow(RequestFailedException::class, fn() => $c->submit('NO JCL AT ALL'), 'no job card');
        check($e->returnCode > 0, $e->getMessage());
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_delete(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $msg = $c->delete('VEXUSR1.DEMO.REPORT');
        check(str_contains($msg, 'RC=0'), $msg);
        check(!in_array('VEXUSR1.DEMO.REPORT', $c->listDatasets('VEXUSR1.**'), true), 'gone from the catalogue');
        $c->delete("'VEXUSR1.JCL(WARN)'");
        check(!in_array('WARN', $c->listMembers('VEXUSR1.JCL'), true), 'the member is gone');
        $e = expectThrow(RequestFailedException::class, fn() => $c->delete('VEXUSR1.DEMO.REPORT'), 'twice');
        check($e->returnCode > 0, $e->getMessage());
        $job = $c->submit("'VEXUSR1.JCL(HELLO)'");
        $c->delete($job->jobId);
        check(!in_array($job->jobId, $c->listDatasets('JES'), true), 'the purged job is gone');
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_allocate(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $msg = $c->allocate("ALLOC DA('VEXUSR1.PHP.NEW') NEW CATALOG DSORG(PS) RECFM(F,B) LRECL(80)");
        check(str_contains($msg, 'RC=0'), $msg);
        check(in_array('VEXUSR1.PHP.NEW', $c->listDatasets('VEXUSR1.PHP.*'), true), 'the new data set is listed');
        $c->upload($env->write('n.txt', "NEW DATA\n"), 'VEXUSR1.PHP.NEW');
        checkSame("NEW DATA\n", $c->download('VEXUSR1.PHP.NEW'), 'and usable');
        $e = expectThrow(RequestFailedException::class, fn() => $c->allocate('ALLOC DA(UNBALANCED'),
            'a request that does not parse');
        check($e->returnCode > 0, $e->getMessage());
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_set_options(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $texts = $c->setOptions('TRAILINGBLANKS=Y');
        check(str_contains(implode('|', $texts), 'TRAILINGBLANKS=Y'), 'the host confirms: ' . implode('|', $texts));
        $seed = $env->seedLines('VEXUSR1.DEMO.DATA');
        checkSame(implode('', array_map(fn($l) => str_pad($l, 80) . "\n", $seed)), $c->download('VEXUSR1.DEMO.DATA'),
            'with trailing blanks kept, every record has its 80 bytes');
        $c->setOptions('TRAILINGBLANKS=N');
        checkSame(fbText($seed), $c->download('VEXUSR1.DEMO.DATA'), 'and without');
        $e = expectThrow(RequestFailedException::class, fn() => $c->setOptions('NOSUCH=1'), 'an unknown option');
        checkSame(4, $e->returnCode, 'a warning is no success either: ' . $e->getMessage());
        checkSame('after', $c->ping('after'), 'the next request is answered by its own rows');
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_send_text(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $texts = $c->sendText("HELLO HOST, IT'S THE FRONT END");
        check(str_contains(implode('|', $texts), "HELLO HOST, IT'S THE FRONT END"), 'echoed: ' . implode('|', $texts));
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_ping(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        checkSame('hello', $c->ping('hello'), 'ping echoes');
        checkSame("it's \"quoted\"", $c->ping("it's \"quoted\""), 'quotes survive the SQL of the program');
        checkSame('', $c->ping(''), 'an empty ping');
        expectThrow(ConfigException::class, fn() => $c->ping("zero\0byte"), 'a zero byte is refused');
        expectThrow(ConfigException::class, fn() => $c->ping(str_repeat('p', Client::MAX_PAYLOAD + 1)),
            'a payload too long for one line is refused');
        checkSame(str_repeat('p', 1000), $c->ping(str_repeat('p', 1000)), 'a long ping');
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_close(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->started();
        $pid = $c->pid();
        check($pid > 0, 'a process id');
        $c->download('VEXUSR1.DEMO.DATA');
        $db = $c->databasePath();
        check(is_file($db), 'the database exists during the run');
        checkSame(0, $c->close(), 'close gives exit code 0');
        checkSame(0, $c->exitCode(), 'the exit code');
        clearstatcache();
        check(!is_file($db), 'the program deleted its database');
        check(glob($c->workPath() . '/*') === [], 'and every downloaded file');
        expectThrow(\Vexlink\VexlinkException::class, fn() => $c->ping('late'), 'no request after CLOSE');
        expectThrow(\Vexlink\VexlinkException::class, fn() => $c->start(Env::PASSWORD), 'no second start');
    } finally {
        $env->stop();
    }
}

function test_wrong_password(array $paths): void
{
    $env = new Env($paths);
    try {
        $c = $env->client();
        $e = expectThrow(RunEndedException::class, fn() => $c->start('NOT-THE-PASSWORD'), 'a wrong password');
        checkSame(16, $e->exitCode, 'exit code 16: ' . $e->getMessage());
        checkSame(-6, $e->systemValue, 'System holds minus the library return code');
        check(str_contains($e->getMessage(), 'CM_SECURITY_NOT_VALID'), 'the meaning is told: ' . $e->getMessage());
        $long = $env->client();
        expectThrow(ConfigException::class, fn() => $long->start(str_repeat('p', 193)),
            'a password whose Base64 line the program would cut');
        check($long->pid() === null, 'the program was not started');
    } finally {
        $env->stop();
    }
    // A pass phrase of 100 characters: its Base64 line (136 characters) reaches the host whole.
    $phrase = substr(str_repeat('correct horse battery staple ', 4), 0, 100);
    $env = new Env($paths, [], true, "[USER VEXLONG]\nPASSWORD = $phrase\n");
    try {
        $c = $env->client([], ['TCP' => ['USERID' => 'VEXLONG']]);
        $c->start($phrase);
        checkSame('pass phrase', $c->ping('pass phrase'), 'logged on with the pass phrase');
        checkSame(0, $c->close(), 'close');
        $cut = $env->client([], ['TCP' => ['USERID' => 'VEXLONG']]);
        $e = expectThrow(RunEndedException::class, fn() => $cut->start(substr($phrase, 0, 99)),
            'the same pass phrase without its last character');
        checkSame(16, $e->exitCode, $e->getMessage());
    } finally {
        $env->stop();
    }
}

function test_host_never_answers(array $paths): void
{
    $env = new Env($paths, ['--fault', 'NEVER_ANSWER=YES', '--fault', 'REQUESTS=PHGDSLST']);
    try {
        $c = $env->started(['timeout' => 30], ['FTP' => ['T0' => '2']]);
        $t = microtime(true);
        $e = expectThrow(RunEndedException::class, fn() => $c->listDatasets('VEXUSR1.**'), 'a host that never answers');
        checkSame(6, $e->exitCode, 'exit code 6: ' . $e->getMessage());
        check(str_contains($e->getMessage(), 'FTP.T0'), 'the meaning is told');
        check(microtime(true) - $t < 15, 'ended by the communication timeout, not by the client\'s');
        $work = $c->workPath();
        check(is_file($c->databasePath()), 'the program left its database behind');
        $env->release($c);
        unset($c, $e);
        gc_collect_cycles();
        clearstatcache();
        check(!file_exists($work), 'the client removed what the program left');
    } finally {
        $env->stop();
    }
}

function test_failed_download(array $paths): void
{
    $env = new Env($paths, ['--fault', 'FAIL_AFTER=2', '--fault', 'REQUESTS=PHGETFILE']);
    try {
        $c = $env->started();
        $e = expectThrow(RequestFailedException::class, fn() => $c->download('VEXUSR1.DEMO.DATA'),
            'a download that fails on the host after two records');
        checkSame(12, $e->returnCode, $e->getMessage());
        // The closing HPEOD of the failed exchange comes late and is not taken for the next answer.
        checkSame('next', $c->ping('next'), 'the next request gets its own answer');
        check(count($c->listDatasets('VEXUSR1.**')) > 0, 'lists still work');
        checkSame(0, $c->close(), 'close');
    } finally {
        $env->stop();
    }
}

function test_download_cut_off(array $paths): void
{
    $env = new Env($paths, ['--fault', 'DROP_AFTER=2', '--fault', 'REQUESTS=PHGETFILE']);
    try {
        $c = $env->started([], ['FTP' => ['T0' => '3']]);
        $e = expectThrow(RunEndedException::class, fn() => $c->download('VEXUSR1.DEMO.DATA'),
            'a host that drops the connection in the middle of a download');
        check($e->exitCode !== 0, 'never reported as success: ' . $e->getMessage());
        checkSame(-27, $e->systemValue, 'the conversation broke: the host closed the connection');
        check(str_contains($e->getMessage(), 'return code 27') && !str_contains($e->getMessage(), 'return code 1 '),
            'the end mark -1 is not taken for a return code: ' . $e->getMessage());
    } finally {
        $env->stop();
    }
}

function test_start_refused(array $paths): void
{
    // Nobody listens on the port: the conversation cannot be opened.
    $env = new Env($paths, [], false);
    try {
        $sock = stream_socket_server('tcp://127.0.0.1:0');
        $env->port = (int)substr(strrchr(stream_socket_get_name($sock, false), ':'), 1);
        fclose($sock);
        $c = $env->client();
        $e = expectThrow(RunEndedException::class, fn() => $c->start(Env::PASSWORD), 'connection refused');
        checkSame(16, $e->exitCode, $e->getMessage());
        check($e->systemValue !== null && $e->systemValue < 0, 'a negative System row');
        // Settings the client cannot work with are refused before anything starts.
        expectThrow(ConfigException::class, fn() => $env->client([], ['GLOBAL' => ['TEMP_PATH' => null]]),
            'no TEMP_PATH');
        expectThrow(ConfigException::class, fn() => $env->client([], ['SQLITE' => ['DBNAME' => null]]),
            'no DBNAME');
        expectThrow(ConfigException::class, fn() => $env->client(['workDir' => '../escape']), 'a work dir path');
        expectThrow(ConfigException::class, fn() => $env->client(['ini' => $env->dir . '/missing.ini']),
            'an INI file that does not exist');
    } finally {
        $env->stop();
    }
}

// ---------------------------------------------------------------- runner

if ($argc < 5 || !in_array($argv[1], TESTS, true)) {
    fwrite(STDERR, "usage: php client_test.php TEST VEXLINK HOSTEMU SAMPLE_DIR\ntests: " . implode(' ', TESTS) . "\n");
    exit(2);
}
$paths = ['vexlink' => $argv[2], 'hostemu' => $argv[3], 'sample' => $argv[4]];
$name = $argv[1];
$t0 = microtime(true);
try {
    ('test_' . $name)($paths);
} catch (Throwable $e) {
    fprintf(STDERR, "FAILED %s: %s: %s\n%s\n", $name, get_class($e), $e->getMessage(), $e->getTraceAsString());
    foreach (Env::$emulatorLogs as $log) {
        fprintf(STDERR, "--- host emulator:\n%s", $log);
    }
    exit(1);
}
printf("PASSED %s (%.1f s)\n", $name, microtime(true) - $t0);
