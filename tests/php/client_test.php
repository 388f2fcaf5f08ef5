<?php
// Tests of the PHP client against the real vexlink and the host emulator on loopback, in a few
// sessions (one php process each):
//   php client_test.php SESSION VEXLINK HOSTEMU SAMPLE_DIR
// Every session starts its own emulators (free ports) and ends every process it started.
declare(strict_types=1);

require_once __DIR__ . '/harness.php';

use Vexlink\Client;
use Vexlink\ClientOptions;
use Vexlink\ConfigurationException;
use Vexlink\HostRefusedException;
use Vexlink\InvalidArgumentException;
use Vexlink\Job;
use Vexlink\Member;
use Vexlink\RunEndedException;
use Vexlink\TransferFailedException;
use Vexlink\TransferMode;

const SESSIONS = ['lists_and_transfers', 'requests_and_jobs', 'failures'];

/** The expected text download of a fixed-length data set: trailing blanks go. */
function fbText(array $lines): string
{
    return implode('', array_map(fn($l) => rtrim($l, ' ') . "\n", $lines));
}

/** A download into memory, for comparisons (the client itself never holds one whole). */
function fetchText(Client $c, string $name, TransferMode $mode = TransferMode::Text): string
{
    $mem = fopen('php://temp', 'w+b');
    $r = $c->download($name, $mem, $mode);
    rewind($mem);
    $text = stream_get_contents($mem);
    fclose($mem);
    checkSame(strlen($text), $r->bytes, "bytes reported for $name");
    return $text;
}

function session_lists_and_transfers(array $paths): void
{
    withEnv($paths, [], function (Env $env) use ($paths): void {
        $c = $env->started();
        // Data set list: value objects taken from the host's lines, sorted by name.
        $catalog = [];
        foreach ($env->seedLines('catalog.txt') as $l) {
            if ($l !== '' && $l[0] !== '#') {
                $catalog[] = preg_split('/\s+/', trim($l))[0];
            }
        }
        sort($catalog, SORT_STRING);
        checkSame($catalog, $c->listDatasetNames('VEXUSR1.**'), 'names of every catalogued data set, in order');
        $sets = $c->listDatasets('VEXUSR1.**');
        $report = $sets[array_search('VEXUSR1.DEMO.REPORT', $catalog, true)];
        checkSame(['PS', 'VB', 255, 27998, 'VEX002'], [$report->organisation, $report->recordFormat,
            $report->recordLength, $report->blockSize, $report->volume], 'the attributes of the catalogue');
        check($report->referred instanceof DateTimeImmutable && str_ends_with($report->raw, 'VEXUSR1.DEMO.REPORT'),
            'the date is parsed and the raw line kept: ' . $report->raw);
        checkSame([], $c->listDatasets('NOBODY.*'), 'no match gives no entries');
        $e = expectThrow(HostRefusedException::class, fn() => $c->listDatasets('((('), 'a bad pattern');
        check($e->returnCode > 0, 'with the host\'s return code: ' . $e->getMessage());
        expectThrow(InvalidArgumentException::class, fn() => $c->listDatasets('JES'), 'jobs are no data sets');

        // Member list: statistics, or none for a load library.
        $expected = array_values(array_diff(scandir($paths['sample'] . '/seed/VEXUSR1.JCL'), ['.', '..']));
        $members = $c->listMembers('VEXUSR1.JCL');
        checkSame($expected, array_map(fn(Member $m) => $m->name, $members), 'the members, in order');
        $hello = $members[array_search('HELLO', $expected, true)];
        checkSame([1, 0, count($env->seedLines('VEXUSR1.JCL/HELLO'))], [$hello->version, $hello->modification,
            $hello->size], 'version 01.00 and the record count of a seeded member');
        check($hello->changed instanceof DateTimeImmutable && $hello->userId !== '', 'changed and Id: ' . $hello->raw);
        $load = $c->listMembers('VEXUSR1.LOADLIB');
        checkSame(['HELLO', false], [$load[0]->name, $load[0]->hasStatistics()], 'RECFM U members: a name alone');
        checkSame(['HELLO'], $c->listMemberNames("'VEXUSR1.JCL(HEL*)'"), 'a member pattern');

        // Text downloads to a path and to a stream.
        $seed = $env->seedLines('VEXUSR1.DEMO.DATA');
        $r = $c->download('VEXUSR1.DEMO.DATA', $env->dir . '/demo.txt');
        checkSame([fbText($seed), count($seed), $env->dir . '/demo.txt'],
            [file_get_contents($env->dir . '/demo.txt'), $r->records, $r->path], 'a download to a path');
        checkSame('', fetchText($c, 'VEXUSR1.DEMO.EMPTY'), 'an empty data set');

        // A larger file: progress while it grows, the host's record count at the end.
        $lines = [];
        for ($i = 1; $i <= 3000; $i++) {
            $lines[] = sprintf('LINE %05d %s', $i, str_repeat(chr(65 + $i % 26), $i % 60));
        }
        $local = $env->write('big.txt', implode("\n", $lines) . "\n");
        $msg = $c->upload($local, 'VEXUSR1.PHP.BIG', TransferMode::Text, 'RECFM(V,B) LRECL(255)');
        check(str_contains($msg, 'ROWS=3000'), "3000 rows stored: $msg");
        $calls = [];
        $c->download('VEXUSR1.PHP.BIG', $env->dir . '/big.back', TransferMode::Text,
            function (?int $records, int $bytes) use (&$calls) { $calls[] = [$records, $bytes]; });
        checkSame(file_get_contents($local), file_get_contents($env->dir . '/big.back'), 'the saved download');
        checkSame([3000, filesize($local)], end($calls), 'the last progress call: records and bytes');
        for ($i = 1; $i < count($calls); $i++) {
            check($calls[$i][1] >= $calls[$i - 1][1], 'progress never goes back');
        }

        // Binary: the bytes 00..FF up, then down as text. The host's NL (X'15') becomes a line
        // feed on the PC: the record count is the host's, not a count of line feeds.
        $all = '';
        for ($b = 0; $b < 256; $b++) {
            $all .= chr($b);
        }
        $c->upload($env->write('all.bin', $all), 'VEXUSR1.PHP.ALLBYTES', TransferMode::Binary, 'RECFM(U) BLKSIZE(32760)');
        checkSame(bin2hex($all), bin2hex(fetchText($c, 'VEXUSR1.PHP.ALLBYTES', TransferMode::Binary)),
            'binary up and down give back the bytes');
        $r = $c->download('VEXUSR1.PHP.ALLBYTES', $env->dir . '/all.txt');
        checkSame(2, $r->records, 'two records (cut after X\'0A\'), whatever line feeds the text holds');
        checkSame(count($seed) * 80, strlen(fetchText($c, 'VEXUSR1.DEMO.DATA', TransferMode::Binary)),
            'binary: fixed 80-byte records without separators');

        // Uploads: into a member; refused when too long (nothing changes); a missing local file.
        $jcl = "//UPJOB    JOB (ACCT),'PHP',CLASS=A\n//STEP1    EXEC PGM=IEFBR14\n";
        $c->upload($env->write('up.jcl', $jcl), "'VEXUSR1.JCL(UPJOB)'");
        checkSame($jcl, fetchText($c, "'VEXUSR1.JCL(UPJOB)'"), 'the member comes back');
        $e = expectThrow(HostRefusedException::class,
            fn() => $c->upload($env->write('long.txt', str_repeat('y', 81) . "\n"), 'VEXUSR1.DEMO.DATA'),
            'a line longer than LRECL 80');
        check($e->returnCode > 0, $e->getMessage());
        checkSame(fbText($seed), fetchText($c, 'VEXUSR1.DEMO.DATA'), 'the refused upload changed nothing');
        expectThrow(InvalidArgumentException::class, fn() => $c->upload($env->dir . '/no-such-file', 'VEXUSR1.X'),
            'a local file that does not exist');
        checkSame(0, $c->close(), 'close');
        $db = $c->databasePath();
        $work = $c->workPath();
        clearstatcache();
        check(!is_file($db) && is_dir($work) && glob("$work/*") === [],
            'after exit 0 the program has removed database and downloads, and left its empty directory');
        $env->release($c);
        unset($c);
        clearstatcache();
        check(!file_exists($work), 'the client removes the empty run directory');

        // A hex run: hex lines, and text downloads and lists decoded.
        $h = $env->started(['downloadFormat' => 'HEX']);
        $hex = explode("\n", rtrim(fetchText($h, 'VEXUSR1.DEMO.DATA', TransferMode::Hex), "\n"));
        checkSame(fbText($seed), implode('', array_map(fn($l) => hex2bin($l) . "\n", $hex)), 'the hex image');
        checkSame(fbText($seed), fetchText($h, 'VEXUSR1.DEMO.DATA'), 'a text download in a hex run is decoded');
        check(in_array('VEXUSR1.DEMO.DATA', $h->listDatasetNames('VEXUSR1.**'), true), 'lists are decoded too');
        checkSame(0, $h->close(), 'close');
    });
}

function session_requests_and_jobs(array $paths): void
{
    withEnv($paths, [], function (Env $env) use ($paths): void {
        // A quiet time that long would show if a delete or an allocation waited for it.
        $q = $env->started(['settleMs' => 20000]);
        $t = microtime(true);
        check(str_contains($q->delete('VEXUSR1.DEMO.REPORT'), 'RC=0'), 'deleted');
        check(str_contains($q->allocate("ALLOC DA('VEXUSR1.PHP.NEW') NEW CATALOG DSORG(PS) RECFM(F,B) LRECL(80)"),
            'RC=0'), 'allocated');
        check(str_contains(implode('|', $q->sendText('HELLO HOST')), 'HELLO HOST'), 'text echoed');
        check(microtime(true) - $t < 15, 'one answer ends a delete, an allocation, a text: no quiet time');
        checkSame(0, $q->close(), 'close');
        $c = $env->started();
        checkSame(['VEXUSR1.PHP.NEW'], $c->listDatasetNames('VEXUSR1.PHP.*'), 'the new data set is listed');
        check(!in_array('VEXUSR1.DEMO.REPORT', $c->listDatasetNames('VEXUSR1.**'), true), 'the deleted one is gone');
        $e = expectThrow(HostRefusedException::class, fn() => $c->delete('VEXUSR1.DEMO.REPORT'), 'deleted twice');
        check($e->returnCode > 0, $e->getMessage());

        $seed = $env->seedLines('VEXUSR1.DEMO.DATA');
        $more = "APPENDED RECORD 1\nAPPENDED RECORD 2\n";
        check(str_contains($c->modify('VEXUSR1.DEMO.DATA APPEND', $env->write('more.txt', $more)), 'ROWS=2'),
            'ROWS= after APPEND counts the new records');
        checkSame(fbText($seed) . $more, fetchText($c, 'VEXUSR1.DEMO.DATA'), 'appended');
        $c->modify('VEXUSR1.DEMO.DATA');
        checkSame('', fetchText($c, 'VEXUSR1.DEMO.DATA'), 'an empty upload empties the data set');

        $c->setOptions('TRAILINGBLANKS=Y');
        $c->upload($env->write('short.txt', "AB\n"), 'VEXUSR1.PHP.NEW');
        checkSame(str_pad('AB', 80) . "\n", fetchText($c, 'VEXUSR1.PHP.NEW'), 'fixed records are blank-padded');
        $e = expectThrow(HostRefusedException::class, fn() => $c->setOptions('NOSUCH=1'), 'an unknown option');
        checkSame(4, $e->returnCode, 'a warning is no success either');
        checkSame('after', $c->ping('after'), 'the next request gets its own answer');
        expectThrow(InvalidArgumentException::class, fn() => $c->ping("zero\0byte"), 'a zero byte');

        // Jobs: one return code for CC, JCL ERROR and ABEND; the spool only when asked.
        $warn = $c->submit(file_get_contents($paths['sample'] . '/seed/VEXUSR1.JCL/WARN'), wait: true);
        checkSame(['WARN', 4, false], [$warn->jobName, $warn->returnCode(), $warn->succeeded()], 'CC 0004');
        check(str_contains($warn->output['STEP1.SYSPRINT'] ?? '', 'THIS JOB ENDS WITH A WARNING'),
            'output by DD: ' . implode(',', array_keys($warn->output ?? [])));
        $ok = $c->submit("'VEXUSR1.JCL(COPY)'", wait: true, fetchSpool: false);
        checkSame([0, true, null], [$ok->returnCode(), $ok->succeeded(), $ok->output], 'CC 0, spool skipped');
        $bad = $c->submit("'VEXUSR1.JCL(BADJCL)'", wait: true, fetchSpool: false);
        checkSame([Job::JCL_ERROR, 'JCL ERROR'], [$bad->returnCode(), $bad->completion], 'JCL ERROR');
        $crash = $c->submit("'VEXUSR1.JCL(CRASH)'", wait: true, fetchSpool: false);
        checkSame([Job::ABEND, 'S0C7'], [$crash->returnCode(), $crash->abendCode()], 'an abend');
        $quick = $c->submit("'VEXUSR1.JCL(HELLO)'");
        checkSame([false, null], [$quick->ended(), $quick->returnCode()], 'without waiting: only the id');
        checkSame(0, $c->waitForJob($quick, fetchSpool: false)->returnCode(), 'waited for later');
        $e = expectThrow(HostRefusedException::class, fn() => $c->submit('NO JCL AT ALL'), 'no job card');
        check($e->returnCode > 0, $e->getMessage());
        checkSame(0, $c->close(), 'close');
    });
}

function session_failures(array $paths): void
{
    // Settings: unknown options, wrong types and unusable files are refused before any start.
    withEnv($paths, [], function (Env $env) use ($paths): void {
        $e = expectThrow(InvalidArgumentException::class, fn() => $env->client(['userid' => 'NOSUCH']),
            'an unknown option');
        check(str_contains($e->getMessage(), "'userid'"), $e->getMessage());
        expectThrow(InvalidArgumentException::class, fn() => $env->client(['port' => 'abc']), 'a port that is text');
        expectThrow(InvalidArgumentException::class, fn() => $env->client(['workDir' => '../escape']), 'a path');
        expectThrow(ConfigurationException::class, fn() => $env->client([], ['GLOBAL' => ['TEMP_PATH' => null]]),
            'no TEMP_PATH');
        expectThrow(ConfigurationException::class, fn() => $env->client([], ['SQLITE' => ['DBNAME' => null]]),
            'no DBNAME');
        expectThrow(ConfigurationException::class, fn() => $env->client(['ini' => $env->dir . '/missing.ini']),
            'an INI file that does not exist');
        $typed = new Client(new ClientOptions(exe: $paths['vexlink'], ini: $env->ini(), cwd: $env->dir,
            user: 'NOSUCH', timeout: 30));
        $e = expectThrow(RunEndedException::class, fn() => $typed->start(Env::PASSWORD), 'the -U option is used');
        checkSame([16, -6], [$e->exitCode, $e->systemValue], 'an unknown user is refused: ' . $e->getMessage());
        $long = $env->client();
        expectThrow(InvalidArgumentException::class, fn() => $long->start(str_repeat('p', 193)),
            'a password whose Base64 line the program would cut');
        check($long->pid() === null, 'the program was not started');
    });

    // A download that fails on the host: refused; the late HPEOD is not taken for the next answer.
    withEnv($paths, ['--fault', 'FAIL_AFTER=2', '--fault', 'REQUESTS=PHGETFILE'], function (Env $env): void {
        $c = $env->started();
        $e = expectThrow(HostRefusedException::class, fn() => fetchText($c, 'VEXUSR1.DEMO.DATA'), 'FAIL_AFTER');
        checkSame(12, $e->returnCode, $e->getMessage());
        checkSame('next', $c->ping('next'), 'the next request gets its own answer');
        checkSame(0, $c->close(), 'close');
    });

    // The host drops the connection in the middle of a download: the run ends, never a success.
    withEnv($paths, ['--fault', 'DROP_AFTER=2', '--fault', 'REQUESTS=PHGETFILE'], function (Env $env): void {
        $c = $env->started([], ['FTP' => ['T0' => '3']]);
        $e = expectThrow(RunEndedException::class, fn() => fetchText($c, 'VEXUSR1.DEMO.DATA'), 'a dropped line');
        checkSame(-27, $e->systemValue, 'the host closed the connection: ' . $e->getMessage());
        check(!str_contains($e->getMessage(), 'return code 1 '), 'the end mark -1 is no return code');
    });

    // A host that never answers: the communication timeout ends the run (exit code 6), and the
    // client removes what the program left behind.
    withEnv($paths, ['--fault', 'NEVER_ANSWER=YES', '--fault', 'REQUESTS=PHGDSLST'], function (Env $env): void {
        $c = $env->started(['timeout' => 30], ['FTP' => ['T0' => '2']]);
        $e = expectThrow(RunEndedException::class, fn() => $c->listDatasetNames('VEXUSR1.**'), 'no answer');
        checkSame(6, $e->exitCode, $e->getMessage());
        $work = $c->workPath();
        check(is_file($c->databasePath()), 'the program left its database behind');
        $env->release($c);
        unset($c, $e);
        gc_collect_cycles();
        clearstatcache();
        check(!file_exists($work), 'the client removed what the program left');
    });

    // Nobody listens on the port: the conversation cannot be opened.
    withEnv($paths, [], function (Env $env): void {
        $sock = stream_socket_server('tcp://127.0.0.1:0');
        $env->port = (int)substr(strrchr(stream_socket_get_name($sock, false), ':'), 1);
        fclose($sock);
        $e = expectThrow(RunEndedException::class, fn() => $env->client()->start(Env::PASSWORD), 'refused');
        check($e->exitCode === 16 && $e->systemValue < 0, $e->getMessage());
    }, false);
}

// ---------------------------------------------------------------- runner

if ($argc < 5 || !in_array($argv[1], SESSIONS, true)) {
    fwrite(STDERR, "usage: php client_test.php SESSION VEXLINK HOSTEMU SAMPLE_DIR\nsessions: "
        . implode(' ', SESSIONS) . "\n");
    exit(2);
}
$paths = ['vexlink' => $argv[2], 'hostemu' => $argv[3], 'sample' => $argv[4]];
$name = $argv[1];
$t0 = microtime(true);
try {
    ('session_' . $name)($paths);
} catch (Throwable $e) {
    fprintf(STDERR, "FAILED %s: %s: %s\n%s\n", $name, get_class($e), $e->getMessage(), $e->getTraceAsString());
    foreach (Env::$emulatorLogs as $log) {
        fprintf(STDERR, "--- host emulator:\n%s", $log);
    }
    exit(1);
}
printf("PASSED %s (%.1f s)\n", $name, microtime(true) - $t0);
