<?php
declare(strict_types=1);

namespace Vexlink;

/** How a download or upload travels. */
enum TransferMode: string
{
    /** One line per record, translated between EBCDIC and the PC code page. */
    case Text = 'text';
    /** One line of upper-case hexadecimal digits per translated record (a run with downloadFormat HEX). */
    case Hex = 'hex';
    /** The host's bytes untranslated, records without separators (FTTRAIL=Y around the request). */
    case Binary = 'binary';
}
