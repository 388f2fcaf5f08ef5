#pragma once
// The JCL the emulator understands: JOB, EXEC PGM=, DD statements with
// continuation, comments, in-stream data (DD *, DD DATA, DLM=) and the
// null statement. Cards are PC-code text; columns 72 to 80 of a statement
// are not read.

#include "recfile.h"

#include <string>
#include <utility>
#include <vector>

namespace hostemu {

struct JclStatement {
    int number = 0;                    // statement number as JESJCL shows it
    std::string name;                  // label (empty when none)
    std::string op;                    // JOB, EXEC, DD, ...
    std::string operands;              // operand field, continuations joined
    std::vector<std::string> cards;    // the cards as written (for JESJCL)
    std::vector<std::string> instream; // DD * / DD DATA: the data cards
    bool generated = false;            // SYSIN DD * the reader added for loose data
};

struct JclError {
    int statement = 0;
    std::string text;
};

// Splits cards into statements. Syntax errors (unbalanced quotes or
// parentheses, a missing continuation, data cards before the first step)
// are collected in errors; parsing goes on.
std::vector<JclStatement> ParseJclCards(const std::vector<std::string>& cards, std::vector<JclError>& errors);

// One operand: key=value, or a positional value (key empty).
struct JclOperand {
    std::string key;
    std::string value;
};
// Splits an operand field at its top-level commas; false when quotes or
// parentheses do not balance.
bool SplitOperands(const std::string& field, std::vector<JclOperand>& out);
// Splits "(A,B,(C,D))" into "A", "B", "(C,D)"; a value without parentheses
// gives itself.
std::vector<std::string> SplitSubparams(const std::string& value);
// 'IT''S' -> IT'S; a value without quotes is returned as it is.
std::string UnquoteJcl(const std::string& value);

// One source of a DD: a data set (or member), or in-stream cards.
struct DdSource {
    std::string dsn; // with (MEMBER) when given; empty for in-stream
    bool instream = false;
    std::vector<std::string> cards;
};

struct DdSpec {
    int statement = 0;
    std::string ddname;
    std::vector<DdSource> sources; // concatenation: unnamed DDs that follow
    std::string status = "NEW";    // NEW, OLD, SHR, MOD
    std::string normalDisp;        // CATLG, KEEP, DELETE, PASS or empty
    bool sysout = false;
    char sysoutClass = 'A';
    bool dummy = false;
    bool hasAttrs = false; // DCB or RECFM/LRECL/BLKSIZE given
    DsAttrs attrs;         // for NEW data sets
};

struct StepSpec {
    int statement = 0;
    std::string name;
    std::string pgm;
    std::string parm;
    std::vector<DdSpec> dds;
    const DdSpec* FindDd(const std::string& ddname) const;
};

struct JobSpec {
    std::string jobname;
    char jobclass = 'A';
    char msgclass = 'X';
    std::vector<StepSpec> steps;
    std::vector<JclStatement> statements;
};

// Builds the job from the cards. Gives false (and a reason) only when the
// deck cannot be taken as a job at all: no JOB statement first, or an
// invalid job name. JCL errors that make the job fail are added to errors.
bool BuildJob(const std::vector<std::string>& cards, JobSpec& job, std::vector<JclError>& errors, std::string& refusal);

} // namespace hostemu
