<?php
declare(strict_types=1);

namespace Vexlink;

use PDO;
use PDOException;

/**
 * One run of vexlink, driven through its request database.
 *
 *   $c = new Client(new ClientOptions(exe: '/usr/bin/vexlink', ini: '/etc/vexlink/vexlink.ini'));
 *   $c->start($password);                    // the password goes to the program's stdin
 *   foreach ($c->listDatasets('VEXUSR1.*') as $ds) { echo $ds->name, "\n"; }
 *   $c->download('VEXUSR1.DEMO.DATA', '/tmp/demo.txt');
 *   $c->close();                             // 0, or an exception
 *
 * Requests run one after the other: each method queues one request (MsgIDs 2, 3, ...),
 * waits for the rows that answer it and returns the result, or throws. A failure is never
 * returned as data: an HPMSG whose return code is not 0 throws HostRefusedException, a
 * transfer that did not complete TransferFailedException, a run that ends too early or with
 * an exit code other than 0 RunEndedException.
 */
final class Client
{
    /** The largest Data text that reaches the host (the line holds a 10-byte prefix and
     *  the conversation refuses blocks of 32000 bytes or more). */
    public const MAX_PAYLOAD = 31989;
    /** The program reads at most this many characters of the password line (the Base64 text
     *  of a 100-character pass phrase has 136). */
    public const MAX_PASSWORD_LINE = 256;

    /** Request items the front end may queue. */
    public const REQUESTS = ['PHSETOPT', 'PHSUBMIT', 'PHDELETE', 'PHMODIFY', 'PHBPXWDYN', 'PHGDSLST',
        'PHGDSLSTF', 'PHGPODIR', 'PHGPODIRF', 'PHGETFILE', 'PHDATA', 'PHEOD', 'PHTXT', 'PING', 'CLOSE'];

    /** The meaning of each exit code of the program. */
    public const EXIT_CODES = [
        0 => 'the run went through',
        4 => 'an informational option (-h, -t, -g, -x) was given; no transfer took place',
        6 => 'the communication timeout (FTP.T0) expired: nothing was sent or received for that long; '
            . 'the program ended at once without closing the conversation',
        8 => 'the configuration failed (arguments, INI file missing or unreadable) or the request '
            . 'database could not be opened',
        16 => 'the conversation with the host could not be opened or failed, or a thread could not start',
    ];

    /** Return codes of the conversation library, as minus values in the System table. */
    public const LIBRARY_CODES = [
        1 => 'CM_ALLOCATE_FAILURE_NO_RETRY: connection refused, or the host broke off the allocation',
        2 => 'CM_ALLOCATE_FAILURE_RETRY: the host did not answer within T1, or is unreachable',
        6 => 'CM_SECURITY_NOT_VALID: user id or password rejected by the host',
        9 => 'CM_TPN_NOT_RECOGNIZED: the host does not know the started-task member (TCP.MEMBER)',
        17 => 'CM_DEALLOCATED_ABEND: the host stopped the conversation',
        18 => 'CM_DEALLOCATED_NORMAL: the host ended the conversation',
        19 => 'CM_PARAMETER_ERROR: bad address, member name, key or certificate file',
        20 => 'CM_PRODUCT_SPECIFIC_ERROR: the system or the TLS library failed',
        24 => 'CM_PROGRAM_PARAMETER_CHECK: a value was too long or a block too large',
        25 => 'CM_PROGRAM_STATE_CHECK: call out of order',
        26 => 'CM_RESOURCE_FAILURE_NO_RETRY: malformed data or a TLS failure during the conversation',
        27 => 'CM_RESOURCE_FAILURE_RETRY: the host closed the connection',
        35 => 'CM_OPERATION_INCOMPLETE: nothing arrived within the receive limit',
        46 => 'CM_SECURITY_NOT_SUPPORTED: the host does not serve this TCPCRYPT mode',
        47 => 'CM_SECURITY_MUTUAL_FAILED: the host certificate did not verify',
    ];

    private string $exe;
    private string $iniPath;
    private IniFile $ini;
    private string $workDir;
    private string $cwd;
    /** @var list<string> options after "-c INI -d WORKDIR" */
    private array $options = [];
    private float $timeout;
    private float $startTimeout;
    private float $closeTimeout;
    private int $pollMicros;
    private float $settle;
    private bool $hexDownloads;
    private bool $hexUploads;
    private bool $keepFiles;
    /** @var array<string,string> INI keys the client sets in a derived INI file */
    private array $iniOverrides = [];

    private string $workPath;
    private string $dbPath;
    private ?string $derivedIni = null;

    /** @var resource|null */
    private $proc = null;
    private ?int $pid = null;
    private ?int $exitCode = null;
    private ?int $termSignal = null;
    /** @var resource|null */
    private $stdout = null;
    private ?PDO $db = null;
    private ?\PDOStatement $newRows = null;

    private int $nextId = 2;
    private int $lastRow = 0;
    private ?string $unanswered = null;
    private bool $ready = false;
    private bool $closed = false;
    /** @var list<string> */
    private array $downloadFiles = [];
    /** @var list<array> rows that belonged to no request in progress */
    private array $strayRows = [];

    /** @param ClientOptions|array<string,mixed> $options an array is checked by ClientOptions::fromArray() */
    public function __construct(ClientOptions|array $options)
    {
        $o = is_array($options) ? ClientOptions::fromArray($options) : $options;
        $cwd = realpath(self::local($o->cwd ?? '.'));
        if ($cwd === false || !is_dir($cwd)) {
            throw new ConfigurationException('cwd is no directory: ' . ($o->cwd ?? '.'));
        }
        $this->cwd = $cwd;
        $this->exe = self::local($o->exe);
        if (!is_file($this->exe) || !is_executable($this->exe)) {
            throw new ConfigurationException("vexlink program not found or not executable: {$this->exe}");
        }
        $this->iniPath = self::local($o->ini);
        $this->ini = new IniFile($this->iniPath);
        $this->workDir = $o->workDir ?? sprintf('run-%d-%s', getmypid(), bin2hex(random_bytes(4)));
        foreach (['-A' => $o->host, '-O' => $o->port, '-U' => $o->user, '-S' => $o->tlsLevel, '-D' => $o->logPath]
                 as $flag => $v) {
            if ($v !== null) {
                array_push($this->options, $flag, (string)$v);
            }
        }
        if ($o->log) {
            array_push($this->options, '-l', '1');
        }
        $this->timeout = $o->timeout;
        $this->startTimeout = $o->startTimeout;
        $this->closeTimeout = $o->closeTimeout;
        $this->pollMicros = $o->pollMs * 1000;
        $this->settle = $o->settleMs / 1000.0;
        $this->keepFiles = $o->keepFiles;
        foreach (['DOWNLOAD_FORMAT' => $o->downloadFormat, 'UPLOAD_FORMAT' => $o->uploadFormat] as $key => $v) {
            if ($v !== null) {
                $this->iniOverrides[$key] = strtoupper($v);
            }
        }
        $this->hexDownloads = strcasecmp($this->iniOverrides['DOWNLOAD_FORMAT']
            ?? ($this->ini->get('GLOBAL.DOWNLOAD_FORMAT') ?? ''), 'HEX') === 0;
        $this->hexUploads = strcasecmp($this->iniOverrides['UPLOAD_FORMAT']
            ?? ($this->ini->get('GLOBAL.UPLOAD_FORMAT') ?? ''), 'HEX') === 0;

        // Where the program will put the database and the downloads: TEMP_PATH/WORK_DIR.
        $temp = $this->ini->get('GLOBAL.TEMP_PATH');
        if ($temp === null) {
            throw new ConfigurationException('the INI file must set TEMP_PATH in [GLOBAL]: without it the program '
                . 'puts the work directory at the root of the file system');
        }
        $temp = rtrim($this->absolute($temp), '/') ?: '/';
        if (!is_dir($temp)) {
            throw new ConfigurationException("TEMP_PATH is no directory: $temp");
        }
        $dbName = $this->ini->get('SQLITE.DBNAME');
        if ($dbName === null) {
            throw new ConfigurationException('the INI file must set DBNAME in [SQLITE]: the request database file name');
        }
        $this->workPath = $temp . '/' . $this->workDir;
        $this->dbPath = $this->workPath . '/' . $dbName;
    }

    public function __destruct()
    {
        try {
            if ($this->proc !== null && $this->running()) {
                if (!$this->closed && $this->unanswered === null) {
                    try {
                        $this->closeTimeout = min($this->closeTimeout, 5.0);
                        $this->close();
                    } catch (VexlinkException) {
                    }
                }
                if ($this->running()) {
                    $this->abort();
                }
            }
        } finally {
            $this->cleanup();
        }
    }

    // ---------------------------------------------------------------- the run

    /**
     * Starts the program and waits until the host is ready (the System table shows the
     * process id). The password travels only on the program's standard input, as Base64.
     */
    public function start(string $password): void
    {
        if ($this->proc !== null) {
            throw new InvalidArgumentException('this client has already started a run; use one client per run');
        }
        if ($password === '') {
            throw new InvalidArgumentException('the password is empty');
        }
        $line = base64_encode($password);
        if (strlen($line) > self::MAX_PASSWORD_LINE) {
            throw new InvalidArgumentException(sprintf('the program reads at most %d characters of the password line; '
                . 'this password gives %d in Base64 (at most 192 bytes fit)', self::MAX_PASSWORD_LINE,
                strlen($line)));
        }
        // From here on the destructor cleans up after this run.
        $this->stdout = tmpfile();
        if (!is_dir($this->workPath) && !@mkdir($this->workPath, 0700)) {
            throw new ConfigurationException("cannot create the work directory {$this->workPath}");
        }
        // A database left by an earlier run would show its old System rows.
        foreach (['', '-journal', '-wal', '-shm'] as $suffix) {
            if (is_file($this->dbPath . $suffix)) {
                @unlink($this->dbPath . $suffix);
            }
        }
        $ini = $this->iniPath;
        if ($this->iniOverrides) {
            $ini = $this->derivedIni = $this->workPath . '/vexlink-run.ini';
            $head = "[GLOBAL]\n";
            foreach ($this->iniOverrides as $k => $v) {
                $head .= "$k=$v\n";
            }
            // "[]" returns to the empty section, so that keys before the first section of
            // the original file keep their names.
            $head .= "[]\n";
            $body = file_get_contents($this->iniPath);
            if ($body === false || file_put_contents($ini, $head . $body) === false || !chmod($ini, 0600)) {
                throw new ConfigurationException("cannot write $ini");
            }
        }
        $argv = array_merge([$this->exe, '-c', $ini, '-d', $this->workDir], $this->options);
        $pipes = [];
        $proc = proc_open($argv, [0 => ['pipe', 'r'], 1 => $this->stdout, 2 => $this->stdout], $pipes, $this->cwd);
        if (!is_resource($proc)) {
            throw new ConfigurationException("cannot start {$this->exe}");
        }
        $this->proc = $proc;
        $this->running(); // takes the process id (and an exit code that may already be there)
        // The program may already have ended (bad configuration): a broken pipe is no error here.
        @fwrite($pipes[0], $line . "\n");
        @fclose($pipes[0]);
        $this->waitReady();
    }

    /** The process id of the running program, null before start(). */
    public function pid(): ?int
    {
        return $this->pid;
    }

    /** The exit code once the program has ended, else null. */
    public function exitCode(): ?int
    {
        $this->running();
        return $this->exitCode;
    }

    /** The directory of this run (TEMP_PATH/WORK_DIR), which holds the database and downloads. */
    public function workPath(): string
    {
        return $this->workPath;
    }

    public function databasePath(): string
    {
        return $this->dbPath;
    }

    /** True while the program runs. */
    public function running(): bool
    {
        if ($this->proc === null || $this->exitCode !== null || $this->termSignal !== null) {
            return false;
        }
        $st = proc_get_status($this->proc);
        $this->pid ??= $st['pid'];
        if ($st['running']) {
            return true;
        }
        // proc_get_status() gives the exit code only once: keep it.
        if ($st['signaled']) {
            $this->termSignal = $st['termsig'];
        } else {
            $this->exitCode = $st['exitcode'];
        }
        return false;
    }

    /** What an exit code means. */
    public static function exitMeaning(int $code): string
    {
        return self::EXIT_CODES[$code] ?? 'an exit code the program does not document';
    }

    /**
     * Ends the run with CLOSE and waits for the program to end. Returns 0; any other exit
     * code throws RunEndedException.
     */
    public function close(): int
    {
        $this->requireRun();
        if ($this->unanswered === null) {
            $this->insertRequests([['CLOSE', '', '']]);
        } else {
            // The request still waiting for its answer keeps the send thread from taking a
            // new row: CLOSE would never be read. End the program instead.
            $this->abort();
            throw $this->runEnded("the run was ended by force: {$this->unanswered} had not been answered");
        }
        $this->closed = true;
        $deadline = microtime(true) + $this->closeTimeout;
        while ($this->running()) {
            if (microtime(true) > $deadline) {
                $this->abort();
                throw $this->runEnded('the program did not end within ' . $this->closeTimeout . ' s after CLOSE');
            }
            usleep($this->pollMicros);
        }
        if ($this->exitCode !== 0) {
            throw $this->runEnded('the run ended after CLOSE');
        }
        return 0;
    }

    /** Ends the program at once (SIGTERM, then SIGKILL); nothing is closed on the host side. */
    public function abort(): void
    {
        if ($this->proc === null || !$this->running()) {
            return;
        }
        proc_terminate($this->proc, 15);
        $deadline = microtime(true) + 3;
        while ($this->running() && microtime(true) < $deadline) {
            usleep(20000);
        }
        if ($this->running()) {
            proc_terminate($this->proc, 9);
            $deadline = microtime(true) + 3;
            while ($this->running() && microtime(true) < $deadline) {
                usleep(20000);
            }
        }
    }

    // ---------------------------------------------------------------- requests

    /**
     * The data sets matching a pattern (PHGDSLSTF), taken apart. Within a qualifier "*" is any
     * run of characters and "%" one character; "**" is any number of qualifiers.
     * @return list<Dataset>
     */
    public function listDatasets(string $pattern): array
    {
        self::refuseSpool($pattern, 'listDatasets');
        return array_map(function (string $l) {
            return Dataset::fromLine($l)
                ?? throw new TransferFailedException('PHGDSLSTF', "data set line not understood: $l");
        }, $this->listLines('PHGDSLSTF', $pattern));
    }

    /**
     * The names of the data sets matching a pattern (PHGDSLST).
     * @return list<string>
     */
    public function listDatasetNames(string $pattern): array
    {
        self::refuseSpool($pattern, 'listDatasetNames');
        return array_map('trim', $this->listLines('PHGDSLST', $pattern));
    }

    /**
     * The members of a library (PHGPODIRF) with their statistics; "LIB(pattern)" selects.
     * @return list<Member>
     */
    public function listMembers(string $dataset): array
    {
        self::refuseSpool($dataset, 'listMembers');
        return array_map(function (string $l) {
            return Member::fromLine($l)
                ?? throw new TransferFailedException('PHGPODIRF', "member line not understood: $l");
        }, $this->listLines('PHGPODIRF', $dataset));
    }

    /**
     * The member names of a library (PHGPODIR).
     * @return list<string>
     */
    public function listMemberNames(string $dataset): array
    {
        self::refuseSpool($dataset, 'listMemberNames');
        return array_map('trim', $this->listLines('PHGPODIR', $dataset));
    }

    /**
     * Downloads a data set, a member or job output (PHGETFILE) to a path or a stream, written
     * as it arrives (never held in memory whole):
     * Text   one line per record, each ended by a line feed, in the PC code page;
     * Hex    one line per record of upper-case hexadecimal digits of the translated record
     *        (the run must have been started with downloadFormat 'HEX');
     * Binary the records unchanged and without separators (binary mode around the request).
     * $progress, when given, is called as fn(?int $records, int $bytes) while the file grows
     * (records null: a line count would be wrong, since a record may hold the host's new-line
     * character X'15', which the PC code page turns into a line feed) and once at the end with
     * the number of records the host reported.
     * @param string|resource $to
     */
    public function download(string $dataset, mixed $to, TransferMode $mode = TransferMode::Text,
                             ?callable $progress = null): DownloadResult
    {
        if ($mode === TransferMode::Hex && !$this->hexDownloads) {
            throw new InvalidArgumentException("hex downloads need a run started with downloadFormat 'HEX' "
                . '(the program chooses the format once per run)');
        }
        $path = is_string($to) ? self::local($to) : null;
        $sink = new DownloadSink($path ?? $to, $this->hexDownloads && $mode === TransferMode::Text, 'PHGETFILE');
        try {
            $run = fn() => $this->fetch('PHGETFILE', $dataset, $sink, $progress);
            [$records, $text] = $mode === TransferMode::Binary ? $this->inBinaryMode($run) : $run();
            return new DownloadResult($sink->written, $records, $text, $path);
        } finally {
            $sink->close();
        }
    }

    /**
     * Uploads a local file to a data set or member (PHMODIFY with the file). $options go after
     * the target in the request: APPEND, and for a new sequential data set RECFM(..) LRECL(..)
     * [BLKSIZE(..)] [VOL(..)]. Text: one record per line, line feed removed (a carriage return
     * before it stays); Binary: the file's bytes unchanged, cut after each line feed.
     * Gives the host's closing message ("RC=0 ROWS=n ... STORED").
     */
    public function upload(string $localFile, string $target, TransferMode $mode = TransferMode::Text,
                           string $options = ''): string
    {
        if ($mode === TransferMode::Hex) {
            throw new InvalidArgumentException('uploads travel as Text or Binary; a run with uploadFormat HEX '
                . 'sends hexadecimal images of text files by itself');
        }
        $path = realpath(self::local($localFile));
        if ($path === false || !is_file($path) || !is_readable($path)) {
            // The program would end its run on an unreadable file: refuse here.
            throw new InvalidArgumentException("cannot read the file to upload: $localFile");
        }
        $payload = trim($target . ' ' . $options);
        if ($mode === TransferMode::Binary) {
            return $this->inBinaryMode(fn() => $this->modify($payload, $path));
        }
        if (!$this->hexUploads) {
            return $this->modify($payload, $path);
        }
        // The run reads uploads as hexadecimal images: send one of the file.
        $image = $this->workPath . '/upload-' . bin2hex(random_bytes(4)) . '.hex';
        try {
            $this->writeHexImage($path, $image);
            return $this->modify($payload, $image);
        } finally {
            @unlink($image);
        }
    }

    /**
     * The raw PHMODIFY request: $payload names the target and its options; with $localFile
     * the file's records follow (an upload), without one an empty upload is sent, which
     * creates or empties the target. Gives the host's closing message.
     */
    public function modify(string $payload, ?string $localFile = null): string
    {
        $empty = null;
        if ($localFile === null) {
            $empty = $this->workPath . '/empty-' . bin2hex(random_bytes(4));
            if (file_put_contents($empty, '') === false) {
                throw new ConfigurationException("cannot write $empty");
            }
            $localFile = $empty;
        } else {
            $localFile = realpath(self::local($localFile)) ?: $localFile;
            if (!is_file($localFile) || !is_readable($localFile)) {
                throw new InvalidArgumentException("cannot read the file to upload: $localFile");
            }
        }
        try {
            $rows = $this->exchange('PHMODIFY', $payload, $localFile, 'upload');
        } finally {
            if ($empty !== null) {
                @unlink($empty);
            }
        }
        $this->requireSuccess('PHMODIFY', $rows, false);
        return $this->lastText($rows, 'HPMSG');
    }

    /**
     * Submits a job (PHSUBMIT): JCL text, or the name of a member holding JCL. With $wait the
     * client polls the job list until the job has ended and, with $fetchSpool, reads its
     * output by DD.
     */
    public function submit(string $jcl, bool $wait = false, bool $fetchSpool = true, float $waitTimeout = 60.0): Job
    {
        $rows = $this->exchange('PHSUBMIT', $jcl, '', 'exchange');
        $this->requireSuccess('PHSUBMIT', $rows, true);
        $msg = $this->lastText($rows, 'HPMSG');
        $eod = $this->lastText($rows, 'HPEOD');
        $jobId = preg_match('/\bJOBID=(\S+)/', $eod, $m) ? $m[1]
            : (preg_match('/\((JOB\d{5})\)/', $msg, $m) ? $m[1] : null);
        if ($jobId === null) {
            throw new TransferFailedException('PHSUBMIT', "no job id in the answer: $msg / $eod", $rows);
        }
        $jobName = preg_match('/\bJOBNAME=(\S+)/', $eod, $m) ? $m[1]
            : (preg_match('/JOB (\S+)\(/', $msg, $m) ? $m[1] : '');
        $job = new Job($jobId, $jobName, $msg);
        return $wait ? $this->waitForJob($job, $fetchSpool, $waitTimeout) : $job;
    }

    /**
     * Polls the job list until the job has ended; gives the job with its completion and, with
     * $fetchSpool, its output by DD.
     */
    public function waitForJob(Job $job, bool $fetchSpool = true, float $timeout = 60.0): Job
    {
        $deadline = microtime(true) + $timeout;
        for (;;) {
            $line = null;
            foreach ($this->listLines('PHGDSLSTF', 'JES ' . $job->jobId) as $l) {
                if (str_starts_with($l, $job->jobId . ' ')) {
                    $line = $l;
                }
            }
            if ($line === null) {
                throw new HostRefusedException('PHGDSLSTF', null, "job {$job->jobId} is not in the job list");
            }
            // jobid jobname owner status class files completion
            if (!preg_match('/^(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S)\s+(\d+)\s*(.*)$/', $line, $m)) {
                throw new TransferFailedException('PHGDSLSTF', "job list line not understood: $line");
            }
            if ($m[4] === 'OUTPUT') {
                $completion = trim($m[7]);
                break;
            }
            if (microtime(true) > $deadline) {
                throw new TimeoutException('PHGDSLSTF', "job {$job->jobId} has not ended within $timeout s "
                    . "(status {$m[4]})");
            }
            usleep(500000);
        }
        $output = null;
        if ($fetchSpool) {
            $output = [];
            // The spool files: number, DD name, step name ("-" for the JES files), records.
            foreach ($this->listLines('PHGPODIRF', $job->jobId) as $l) {
                if (!preg_match('/^\s*(\d+)\s+(\S+)\s+(\S+)/', $l, $m)) {
                    throw new TransferFailedException('PHGPODIRF', "spool file line not understood: $l");
                }
                $key = $m[3] === '-' ? $m[2] : $m[3] . '.' . $m[2];
                $mem = fopen('php://temp', 'w+b');
                try {
                    $this->download($job->jobId . '.' . $m[1], $mem);
                    rewind($mem);
                    $output[$key] = ($output[$key] ?? '') . stream_get_contents($mem);
                } finally {
                    fclose($mem);
                }
            }
        }
        try {
            return new Job($job->jobId, $job->jobName, $job->message, $completion, $output);
        } catch (InvalidArgumentException) {
            throw new TransferFailedException('PHGDSLSTF', "completion not understood: $line");
        }
    }

    /** Deletes a data set, a member or a job (PHDELETE). Gives the host's message. */
    public function delete(string $name): string
    {
        return $this->command('PHDELETE', $name);
    }

    /** A dynamic allocation request (PHBPXWDYN), e.g. "ALLOC DA('X.Y') NEW CATALOG ...". */
    public function allocate(string $request): string
    {
        return $this->command('PHBPXWDYN', $request);
    }

    /**
     * Sets options for the host (PHSETOPT), e.g. "FTTRAIL=Y" (binary mode). Gives the texts
     * the host answered with.
     * @return list<string>
     */
    public function setOptions(string $options): array
    {
        $rows = $this->exchange('PHSETOPT', $options, '', 'text');
        $this->requireSuccess('PHSETOPT', $rows, false);
        return array_map(fn($r) => $r['Data'], $rows);
    }

    /** Sends a text to the host (PHTXT). Gives the host's answering texts. */
    public function sendText(string $text): array
    {
        $rows = $this->exchange('PHTXT', $text, '', 'reply');
        $this->requireSuccess('PHTXT', $rows, false);
        return array_map(fn($r) => $r['Data'], $rows);
    }

    /** PING: the program echoes the payload at once, without the host. */
    public function ping(string $payload = ''): string
    {
        $rows = $this->exchange('PING', $payload, '', 'ping');
        return $this->lastText($rows, 'PING');
    }

    /**
     * Queues any request and gives the Response rows that answer it, without judging them.
     * $kind says what ends the answer: 'exchange' (HPEOD, or an HPMSG without "RC=0"),
     * 'upload', 'message' (an HPMSG), 'reply' (an HPTXT), 'text' (any row, then settleMs of
     * quiet), 'ping'.
     * @return list<array{Id:int,Cmd:string,Data:string,File:string}>
     */
    public function request(string $cmd, string $data = '', string $file = '', string $kind = 'exchange'): array
    {
        return $this->exchange($cmd, $data, $file, $kind);
    }

    /** @return list<array> Response rows that answered no request in progress (late rows). */
    public function strayRows(): array
    {
        return $this->strayRows;
    }

    // ---------------------------------------------------------------- internals

    /** A path the program uses (TEMP_PATH, download files), taken from the program's directory. */
    private function absolute(string $path): string
    {
        return str_starts_with($path, '/') ? $path : $this->cwd . '/' . $path;
    }

    /** A path the caller gave (program, INI file, local files), taken from PHP's directory. */
    private static function local(string $path): string
    {
        return str_starts_with($path, '/') ? $path : (getcwd() ?: '.') . '/' . $path;
    }

    private function requireRun(): void
    {
        if ($this->proc === null) {
            throw new InvalidArgumentException('start() first');
        }
        if ($this->closed) {
            throw new InvalidArgumentException('the run has been closed');
        }
        if (!$this->running()) {
            throw $this->runEnded('the run has ended');
        }
    }

    /** The program's standard output and error so far (the tail). */
    private function programOutput(): string
    {
        if ($this->stdout === null) {
            return '';
        }
        $size = fstat($this->stdout)['size'] ?? 0;
        fseek($this->stdout, max(0, $size - 4000));
        return (string)stream_get_contents($this->stdout);
    }

    /** The values of the System table, null when the table cannot be read yet. */
    private function systemValues(): ?array
    {
        if (!$this->openDb()) {
            return null;
        }
        try {
            return array_map('intval', $this->db->query('SELECT PID FROM System ORDER BY ROWID')
                ->fetchAll(PDO::FETCH_COLUMN));
        } catch (PDOException) {
            return null;
        }
    }

    private function openDb(): bool
    {
        if ($this->db !== null) {
            return true;
        }
        clearstatcache(true, $this->dbPath);
        if (!is_file($this->dbPath)) {
            return false;
        }
        try {
            $this->db = new PDO('sqlite:' . $this->dbPath, null, null, [
                PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION,
                PDO::ATTR_TIMEOUT => 10,
            ]);
        } catch (PDOException) {
            return false;
        }
        return true;
    }

    private function runEnded(string $what): RunEndedException
    {
        $this->running();
        $values = $this->systemValues() ?? [];
        $system = $values ? end($values) : null;
        $msg = $what;
        if ($this->termSignal !== null) {
            $msg .= "; the program was ended by signal {$this->termSignal}";
        } elseif ($this->exitCode !== null) {
            $msg .= "; exit code {$this->exitCode}: " . self::exitMeaning($this->exitCode);
        }
        foreach ($values as $v) {
            // -1 is also the end mark that replaces the process id of a run that was ready.
            if ($v < -1 || ($v === -1 && !$this->ready && $this->exitCode === 16)) {
                $msg .= '; the conversation library reported return code ' . (-$v)
                    . ' (' . (self::LIBRARY_CODES[-$v] ?? 'not documented') . ')';
            }
        }
        $out = trim($this->programOutput());
        if ($out !== '') {
            $msg .= "; program output: " . $out;
        }
        return new RunEndedException($msg, $this->exitCode, $system, $out);
    }

    private function waitReady(): void
    {
        $deadline = microtime(true) + $this->startTimeout;
        for (;;) {
            $values = $this->systemValues();
            foreach ($values ?? [] as $v) {
                if ($v > 0) {
                    $this->ready = true;
                    return;
                }
            }
            if ($values && min($values) < 0) {
                // A failure row: the program is ending; take its exit code with it.
                $end = microtime(true) + 10;
                while ($this->running() && microtime(true) < $end) {
                    usleep($this->pollMicros);
                }
                throw $this->runEnded('the run could not start');
            }
            if (!$this->running()) {
                throw $this->runEnded('the run could not start');
            }
            if (microtime(true) > $deadline) {
                $this->abort();
                throw new TimeoutException('start', "the host was not ready within {$this->startTimeout} s; the run was ended");
            }
            usleep($this->pollMicros);
        }
    }

    /** @param list<array{0:string,1:string,2:string}> $requests cmd, data, file */
    private function insertRequests(array $requests): int
    {
        foreach ($requests as [$cmd, $data, $file]) {
            if (!in_array($cmd, self::REQUESTS, true)) {
                throw new InvalidArgumentException("unknown request item '$cmd'");
            }
            if (strlen($data) > self::MAX_PAYLOAD) {
                throw new InvalidArgumentException(sprintf('%s: %d bytes of data, more than the %d that fit into one line',
                    $cmd, strlen($data), self::MAX_PAYLOAD));
            }
            if (str_contains($data, "\0") || str_contains($file, "\0")) {
                throw new InvalidArgumentException("$cmd: the data holds a zero byte, where the program's text ends");
            }
        }
        if (!$this->openDb()) {
            throw $this->runEnded('the request database is gone');
        }
        $first = $this->nextId;
        $st = $this->db->prepare('INSERT INTO Request (Id, Cmd, Data, File) VALUES (?, ?, ?, ?)');
        $this->db->beginTransaction();
        try {
            foreach ($requests as [$cmd, $data, $file]) {
                $st->execute([$this->nextId++, $cmd, $data, $file]);
            }
            $this->db->commit();
        } catch (PDOException $e) {
            $this->db->rollBack();
            $this->nextId = $first;
            throw new TransferFailedException($requests[0][0], 'cannot queue the request: ' . $e->getMessage());
        }
        return $this->nextId - 1;
    }

    /** @return list<array> Response rows after the last one read. */
    private function newRows(): array
    {
        try {
            $this->newRows ??= $this->db->prepare(
                'SELECT ROWID AS Row, Id, Cmd, Data, File FROM Response WHERE ROWID > ? ORDER BY ROWID');
            $this->newRows->execute([$this->lastRow]);
            $rows = $this->newRows->fetchAll(PDO::FETCH_ASSOC);
            $this->newRows->closeCursor();
        } catch (PDOException) {
            return []; // busy beyond the timeout: try again on the next poll
        }
        foreach ($rows as &$r) {
            $this->lastRow = max($this->lastRow, (int)$r['Row']);
            $r['Id'] = (int)$r['Id'];
            $r['Cmd'] = (string)$r['Cmd'];
            $r['Data'] = (string)$r['Data'];
            $r['File'] = (string)$r['File'];
        }
        return $rows;
    }

    /** The return code after "RC=" in a host message, null when it has none. */
    public static function returnCode(string $text): ?int
    {
        return preg_match('/\bRC=(\d+)/', $text, $m) ? (int)$m[1] : null;
    }

    /** Whether the rows so far complete the answer of a request of the given kind. */
    private function answered(string $kind, array $rows, float $lastRowAt): bool
    {
        $quiet = microtime(true) - $lastRowAt >= $this->settle;
        foreach ($rows as $r) {
            $cmd = $r['Cmd'];
            $data = $r['Data'];
            switch ($kind) {
                case 'ping':
                    if ($cmd === 'PING') {
                        return true;
                    }
                    break;
                case 'exchange':
                    // The program's own rule: HPEOD ends it, so does an HPMSG without "RC=0";
                    // HPEODFAIL ends a download that failed on the PC side.
                    if ($cmd === 'HPEOD' || $cmd === 'HPEODFAIL'
                        || ($cmd === 'HPMSG' && !str_contains($data, 'RC=0'))) {
                        return true;
                    }
                    break;
                case 'upload':
                    // PHEODFAIL: the program refused the file before sending anything.
                    if ($cmd === 'HPEOD' || $cmd === 'HPEODFAIL' || $cmd === 'PHEODFAIL' || ($cmd === 'HPMSG'
                            && (!str_contains($data, 'RC=0') || str_contains($data, 'ROWS=')))) {
                        return true;
                    }
                    break;
                case 'message':
                    // One HPMSG is the whole answer (PHDELETE, PHBPXWDYN).
                    if ($cmd === 'HPMSG') {
                        return true;
                    }
                    break;
                case 'reply':
                    // One HPTXT is the whole answer (PHTXT; PHSETOPT of options the host knows).
                    if ($cmd === 'HPTXT' || ($cmd === 'HPMSG' && self::returnCode($data) !== 0)) {
                        return true;
                    }
                    break;
                case 'text':
                    if ($quiet) {
                        return true;
                    }
                    break;
                default:
                    throw new InvalidArgumentException("unknown answer kind '$kind'");
            }
        }
        return false;
    }

    /**
     * Queues one request and collects the rows that answer it. $tick runs on every poll.
     * @return list<array>
     */
    private function exchange(string $cmd, string $data, string $file, string $kind, ?callable $tick = null): array
    {
        $this->requireRun();
        if ($this->unanswered !== null) {
            throw new TransferFailedException($cmd, "{$this->unanswered} is still unanswered; its late rows would be taken "
                . 'for the answer of the next request: close or abort this run');
        }
        // Rows that came after the last answer was complete belong to no request.
        foreach ($this->newRows() as $r) {
            $this->strayRows[] = $r;
        }
        $id = $this->insertRequests([[$cmd, $data, $file]]);
        $rows = [];
        $lastRowAt = microtime(true);
        $deadline = $lastRowAt + $this->timeout;
        $ended = false;
        for (;;) {
            foreach ($this->newRows() as $r) {
                // HPMSG rows always carry Id 0; every other answer row carries the MsgID of
                // the request. A row of an earlier MsgID came late for an earlier request.
                if ($r['Cmd'] !== 'HPMSG' && $r['Id'] !== $id) {
                    $this->strayRows[] = $r;
                    continue;
                }
                if ($r['Cmd'] === 'HPDATA' && $r['File'] !== '') {
                    $this->downloadFiles[] = $this->absolute($r['File']);
                }
                $rows[] = $r;
                $lastRowAt = microtime(true);
            }
            if ($tick !== null) {
                $tick($rows);
            }
            if ($this->answered($kind, $rows, $lastRowAt)) {
                return $rows;
            }
            if ($ended) {
                throw $this->runEnded("the run ended before $cmd (MsgID $id) was answered");
            }
            if (!$this->running()) {
                $ended = true; // one more look at the rows it wrote last
                continue;
            }
            $values = $this->systemValues() ?? [];
            if ($values && max($values) < 0 && $this->waitForEnd(5)) {
                $ended = true;
                continue;
            }
            if (microtime(true) > $deadline) {
                $this->unanswered = "$cmd (MsgID $id)";
                throw new TimeoutException($cmd, "MsgID $id has not been answered within {$this->timeout} s", $rows);
            }
            usleep($this->pollMicros);
        }
    }

    private function waitForEnd(float $seconds): bool
    {
        $end = microtime(true) + $seconds;
        while ($this->running()) {
            if (microtime(true) > $end) {
                return false;
            }
            usleep($this->pollMicros);
        }
        return true;
    }

    /**
     * Throws unless every HPMSG of the rows has return code 0 and, for an exchange that
     * needs one, the closing HPEOD came.
     */
    private function requireSuccess(string $cmd, array $rows, bool $needEod): void
    {
        $eod = false;
        foreach ($rows as $r) {
            if ($r['Cmd'] === 'HPMSG' && self::returnCode($r['Data']) !== 0) {
                throw new HostRefusedException($cmd, self::returnCode($r['Data']), $r['Data'], $rows);
            }
            if ($r['Cmd'] === 'HPEODFAIL' || $r['Cmd'] === 'PHEODFAIL') {
                // The download is incomplete, or the upload was refused: records are missing.
                throw new TransferFailedException($cmd, $r['Data'], $rows);
            }
            $eod = $eod || $r['Cmd'] === 'HPEOD';
        }
        if ($needEod && !$eod) {
            throw new TransferFailedException($cmd, 'the exchange ended without HPEOD', $rows);
        }
        if (!$rows) {
            throw new TransferFailedException($cmd, 'no answer', $rows);
        }
    }

    private function lastText(array $rows, string $cmd): string
    {
        $text = '';
        foreach ($rows as $r) {
            if ($r['Cmd'] === $cmd) {
                $text = $r['Data'];
            }
        }
        return $text;
    }

    private function command(string $cmd, string $payload): string
    {
        $rows = $this->exchange($cmd, $payload, '', 'message');
        $this->requireSuccess($cmd, $rows, false);
        return $this->lastText($rows, 'HPMSG');
    }

    /** Runs $work with the program and the host in binary mode, and switches back after it. */
    private function inBinaryMode(callable $work): mixed
    {
        // Options the host knows: its HPTXT is the whole answer, no quiet time needed.
        $this->requireSuccess('PHSETOPT', $this->exchange('PHSETOPT', 'FTTRAIL=Y', '', 'reply'), false);
        try {
            return $work();
        } finally {
            if ($this->unanswered === null && $this->running()) {
                $this->requireSuccess('PHSETOPT', $this->exchange('PHSETOPT', 'FTTRAIL=N', '', 'reply'), false);
            }
        }
    }

    /** Lists go through the job list and spool methods, not the data set and member lists. */
    private static function refuseSpool(string $name, string $method): void
    {
        $n = strtoupper(trim($name));
        if ($n === 'JES' || str_starts_with($n, 'JES ') || preg_match('/^JOB\d{5}$/', $n)) {
            throw new InvalidArgumentException("$method lists data sets and members; use submit() or "
                . 'waitForJob() for jobs and their spool files');
        }
    }

    /**
     * The lines of a list answer (small: held in memory).
     * @return list<string>
     */
    private function listLines(string $cmd, string $payload): array
    {
        $mem = fopen('php://temp', 'w+b');
        $sink = new DownloadSink($mem, $this->hexDownloads, $cmd);
        try {
            $this->fetch($cmd, $payload, $sink, null);
            rewind($mem);
            $text = (string)stream_get_contents($mem);
        } finally {
            fclose($mem);
        }
        if ($text === '') {
            return [];
        }
        return explode("\n", str_ends_with($text, "\n") ? substr($text, 0, -1) : $text);
    }

    /**
     * Runs a request that answers with a download file and hands the file to $sink while it
     * grows (the program deletes the file when the run ends). Gives the records the host
     * reported in its HPEOD ("RECORDS=n", null without) and the HPEOD text.
     * @return array{0:?int,1:string}
     */
    private function fetch(string $cmd, string $payload, DownloadSink $sink, ?callable $progress): array
    {
        $follow = new FileFollower();
        $tick = function (array $rows) use ($follow, $sink, $progress) {
            foreach ($rows as $r) {
                if ($r['Cmd'] === 'HPDATA' && $r['File'] !== '') {
                    $follow->add($this->absolute($r['File']));
                }
            }
            if ($follow->read($sink) && $progress !== null) {
                $progress(null, $follow->bytes);
            }
        };
        try {
            $rows = $this->exchange($cmd, $payload, '', 'exchange', $tick);
            $this->requireSuccess($cmd, $rows, true);
            // HPEOD has closed the file: read what is left.
            $follow->read($sink);
            $missing = $follow->missing();
            if ($missing !== []) {
                throw new TransferFailedException($cmd, 'the download file could not be read: '
                    . implode(', ', $missing) . '; records are lost', $rows);
            }
            $sink->finish();
            // The program reports a file it could not write whole by HPEODFAIL (checked
            // above); the record count is the host's, not a count of line feeds.
            $eod = $this->lastText($rows, 'HPEOD');
            $records = preg_match('/\bRECORDS=(\d+)/', $eod, $m) ? (int)$m[1] : null;
            if ($progress !== null) {
                $progress($records, $follow->bytes);
            }
            return [$records, $eod];
        } finally {
            $follow->close();
        }
    }

    /** Writes the hexadecimal image of a text file: one line of hex digits per line. */
    private function writeHexImage(string $from, string $to): void
    {
        $in = fopen($from, 'rb');
        $out = fopen($to, 'wb');
        if ($in === false || $out === false) {
            throw new ConfigurationException("cannot write $to");
        }
        try {
            while (($line = fgets($in)) !== false) {
                if (str_ends_with($line, "\n")) {
                    $line = substr($line, 0, -1);
                }
                // The program would send an empty line of a hex image as a one-byte record,
                // and drop a last byte 0x0A: refuse rather than change the data.
                if ($line === '' || str_ends_with($line, "\n")) {
                    throw new InvalidArgumentException('a file with empty lines cannot travel as a hex image');
                }
                fwrite($out, strtoupper(bin2hex($line)) . "\n");
            }
        } finally {
            fclose($in);
            fclose($out);
        }
    }

    private function cleanup(): void
    {
        if ($this->stdout === null) {
            return; // never started: nothing here is this client's
        }
        clearstatcache(); // the program has removed files since PHP last looked
        $this->newRows = null;
        $this->db = null;
        if ($this->proc !== null && !$this->running()) {
            @proc_close($this->proc);
            $this->proc = null;
        }
        if ($this->proc !== null) {
            return; // still running: its files are in use
        }
        if ($this->derivedIni !== null) {
            @unlink($this->derivedIni);
        }
        if (!$this->keepFiles) {
            // After a normal end the program has removed these; after exit code 6 it has not.
            foreach (array_merge($this->downloadFiles, [$this->dbPath, $this->dbPath . '-journal']) as $f) {
                if (is_file($f)) {
                    @unlink($f);
                }
            }
            if (is_dir($this->workPath)) {
                @rmdir($this->workPath); // only when empty
            }
        }
        if ($this->stdout !== null) {
            fclose($this->stdout);
            $this->stdout = null;
        }
    }
}
