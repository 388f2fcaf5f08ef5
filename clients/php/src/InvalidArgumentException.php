<?php
declare(strict_types=1);

namespace Vexlink;

/** A value the caller passed cannot work: an unknown option, a bad name, a missing local file. */
class InvalidArgumentException extends VexlinkException
{
}
