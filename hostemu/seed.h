#pragma once
// Seeding an empty catalogue from text files, so that a sample catalogue can
// be kept readable in the source tree.
//
//   <seed>/catalog.txt        one data set per line:
//                             DSNAME DSORG RECFM LRECL [BLKSIZE] [VOLSER]
//                             ('#' starts a comment line)
//   <seed>/<DSNAME>           a sequential data set: one record per line
//   <seed>/<DSNAME>/<MEMBER>  the members of a partitioned data set
//
// Lines are text in the PC code page of the chosen table (ISO 8859-1 for
// the default table 17); a carriage return before the line feed is dropped.
// Each line becomes one record in the host code page; fixed-length records
// are padded with EBCDIC blanks. A line longer than the record length stops
// the seeding with an error naming file and line.

#include "catalog.h"
#include "codec.h"

#include <string>

namespace hostemu {

Status SeedCatalogue(const std::string& seedDir, Catalog& catalog, const Codec& codec);

} // namespace hostemu
