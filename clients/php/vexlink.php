<?php
// Loads the vexlink PHP client: require_once __DIR__ . '/vexlink.php';
declare(strict_types=1);

require_once __DIR__ . '/src/Exceptions.php';
require_once __DIR__ . '/src/IniFile.php';
require_once __DIR__ . '/src/Job.php';
require_once __DIR__ . '/src/Client.php';
