<?php
declare(strict_types=1);

namespace Vexlink;

/**
 * The installation cannot work as configured: the program is missing, the INI file is
 * unreadable or lacks TEMP_PATH or DBNAME, a directory cannot be created.
 */
class ConfigurationException extends VexlinkException
{
}
