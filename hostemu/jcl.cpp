#include "jcl.h"

#include "names.h"

namespace hostemu {

namespace {

bool StartsWith(const std::string& s, const char* p)
{
    return s.compare(0, std::char_traits<char>::length(p), p) == 0;
}

std::string RTrim(std::string s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\t'))
        s.pop_back();
    return s;
}

// The operand field of a statement text that starts at pos: up to the first
// blank outside quotes. Sets balanced to false when a quote stays open.
std::string ScanOperands(const std::string& text, size_t pos, bool& quoteOpen)
{
    std::string out;
    bool inQuote = false;
    for (size_t i = pos; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\'') {
            inQuote = !inQuote;
        } else if (c == ' ' && !inQuote) {
            break;
        }
        out += c;
    }
    quoteOpen = inQuote;
    return out;
}

bool IsStatementCard(const std::string& card)
{
    return StartsWith(card, "//") && !StartsWith(card, "//*");
}

bool IsNullStatement(const std::string& card)
{
    return card.size() >= 2 && StartsWith(card, "//") && RTrim(card).size() == 2;
}

int ParseSmallNumber(const std::string& text, int fallback)
{
    if (text.empty() || text.size() > 6)
        return fallback;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return fallback;
        v = v * 10 + (c - '0');
    }
    return v;
}

} // namespace

bool SplitOperands(const std::string& field, std::vector<JclOperand>& out)
{
    out.clear();
    if (field.empty())
        return true;
    int depth = 0;
    bool inQuote = false;
    std::string piece;
    auto flush = [&]() {
        JclOperand op;
        size_t eq = std::string::npos;
        int d = 0;
        bool q = false;
        for (size_t i = 0; i < piece.size(); ++i) {
            char c = piece[i];
            if (c == '\'')
                q = !q;
            else if (!q && c == '(')
                ++d;
            else if (!q && c == ')')
                --d;
            else if (!q && d == 0 && c == '=') {
                eq = i;
                break;
            }
        }
        if (eq == std::string::npos) {
            op.value = piece;
        } else {
            op.key = UpperAscii(piece.substr(0, eq));
            op.value = piece.substr(eq + 1);
        }
        out.push_back(op);
        piece.clear();
    };
    for (char c : field) {
        if (c == '\'') {
            inQuote = !inQuote;
        } else if (!inQuote) {
            if (c == '(')
                ++depth;
            else if (c == ')' && --depth < 0)
                return false;
            else if (c == ',' && depth == 0) {
                flush();
                continue;
            }
        }
        piece += c;
    }
    if (inQuote || depth != 0)
        return false;
    flush();
    return true;
}

std::vector<std::string> SplitSubparams(const std::string& value)
{
    if (value.size() < 2 || value.front() != '(' || value.back() != ')')
        return {value};
    std::vector<std::string> out;
    std::string inner = value.substr(1, value.size() - 2);
    int depth = 0;
    bool inQuote = false;
    std::string piece;
    for (char c : inner) {
        if (c == '\'')
            inQuote = !inQuote;
        else if (!inQuote && c == '(')
            ++depth;
        else if (!inQuote && c == ')')
            --depth;
        else if (!inQuote && depth == 0 && c == ',') {
            out.push_back(piece);
            piece.clear();
            continue;
        }
        piece += c;
    }
    out.push_back(piece);
    return out;
}

std::string UnquoteJcl(const std::string& value)
{
    if (value.size() < 2 || value.front() != '\'' || value.back() != '\'')
        return value;
    std::string out;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
        out += value[i];
        if (value[i] == '\'' && i + 2 < value.size() && value[i + 1] == '\'')
            ++i;
    }
    return out;
}

std::vector<JclStatement> ParseJclCards(const std::vector<std::string>& input, std::vector<JclError>& errors)
{
    std::vector<JclStatement> out;
    int number = 0;
    size_t i = 0;
    bool sawExec = false;
    while (i < input.size()) {
        std::string card = input[i].substr(0, 80);
        if (IsNullStatement(card))
            break; // end of the job
        if (StartsWith(card, "//*") || StartsWith(card, "/*")) {
            ++i;
            continue;
        }
        if (!IsStatementCard(card)) {
            // Data without a DD statement: the reader adds SYSIN DD * for
            // the data of a step; before the first step it is an error.
            JclStatement st;
            st.number = ++number;
            st.name = "SYSIN";
            st.op = "DD";
            st.operands = "*";
            st.generated = true;
            st.cards.push_back("//SYSIN DD *             GENERATED STATEMENT");
            while (i < input.size() && !StartsWith(input[i], "//") && !StartsWith(input[i], "/*"))
                st.instream.push_back(RTrim(input[i++].substr(0, 80)));
            if (!sawExec)
                errors.push_back({st.number, "IEFC606I DATA OUTSIDE OF A STEP"});
            out.push_back(std::move(st));
            continue;
        }
        JclStatement st;
        st.number = ++number;
        std::string text = RTrim(card.substr(0, 71));
        st.cards.push_back(RTrim(card));
        size_t pos = 2;
        while (pos < text.size() && text[pos] != ' ')
            ++pos;
        st.name = UpperAscii(text.substr(2, pos - 2));
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        size_t opStart = pos;
        while (pos < text.size() && text[pos] != ' ')
            ++pos;
        st.op = UpperAscii(text.substr(opStart, pos - opStart));
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        bool quoteOpen = false;
        st.operands = ScanOperands(text, pos, quoteOpen);
        ++i;
        // Continuations: the operand field ends with a comma, or a quoted
        // value runs to column 71 and goes on on the next card.
        while ((!st.operands.empty() && st.operands.back() == ',') || quoteOpen) {
            if (i >= input.size() || !StartsWith(input[i], "// ")) {
                errors.push_back({st.number, "IEFC621I EXPECTED CONTINUATION NOT RECEIVED"});
                break;
            }
            std::string cont = RTrim(input[i].substr(0, 71));
            st.cards.push_back(RTrim(input[i].substr(0, 80)));
            ++i;
            size_t c = 2;
            while (c < cont.size() && cont[c] == ' ')
                ++c;
            if (quoteOpen) {
                // The quoted text goes on from column 16.
                size_t from = cont.size() > 15 ? 15 : cont.size();
                bool stillOpen = false;
                std::string more;
                bool inQ = true;
                size_t k = from;
                for (; k < cont.size(); ++k) {
                    if (cont[k] == '\'')
                        inQ = !inQ;
                    else if (cont[k] == ' ' && !inQ)
                        break;
                    more += cont[k];
                }
                stillOpen = inQ;
                st.operands += more;
                quoteOpen = stillOpen;
            } else {
                st.operands += ScanOperands(cont, c, quoteOpen);
            }
        }
        if (quoteOpen)
            errors.push_back({st.number, "IEFC624I INCORRECT USE OF APOSTROPHE"});
        if (st.op == "EXEC")
            sawExec = true;
        if (st.op == "DD") {
            std::vector<JclOperand> ops;
            SplitOperands(st.operands, ops);
            bool star = false, data = false;
            std::string dlm;
            for (const JclOperand& op : ops) {
                if (op.key.empty() && op.value == "*")
                    star = true;
                else if (op.key.empty() && UpperAscii(op.value) == "DATA")
                    data = true;
                else if (op.key == "DLM")
                    dlm = UnquoteJcl(op.value);
            }
            if (star || data) {
                while (i < input.size()) {
                    const std::string& d = input[i];
                    if (!dlm.empty() && StartsWith(d, dlm.c_str())) {
                        ++i;
                        break;
                    }
                    if (dlm.empty() && StartsWith(d, "/*")) {
                        ++i;
                        break;
                    }
                    if (star && dlm.empty() && StartsWith(d, "//"))
                        break;
                    st.instream.push_back(RTrim(d.substr(0, 80)));
                    ++i;
                }
            }
        }
        out.push_back(std::move(st));
    }
    return out;
}

const DdSpec* StepSpec::FindDd(const std::string& ddname) const
{
    for (const DdSpec& dd : dds)
        if (dd.ddname == ddname)
            return &dd;
    return nullptr;
}

namespace {

void ApplyDcbKeyword(const std::string& key, const std::string& value, DdSpec& dd, std::vector<JclError>& errors,
                     int statement)
{
    if (key == "RECFM") {
        if (!ParseRecfm(value, dd.attrs.recfm))
            errors.push_back({statement, "IEFC630I INVALID RECFM " + value});
        dd.hasAttrs = true;
    } else if (key == "LRECL") {
        dd.attrs.lrecl = ParseSmallNumber(value, -1);
        dd.hasAttrs = true;
    } else if (key == "BLKSIZE") {
        dd.attrs.blksize = ParseSmallNumber(value, -1);
        dd.hasAttrs = true;
    } else if (key == "DSORG") {
        std::string v = UpperAscii(value);
        dd.attrs.dsorg = v == "PO" ? Dsorg::PO : Dsorg::PS;
    }
}

DdSpec BuildDd(const JclStatement& st, std::vector<JclError>& errors)
{
    DdSpec dd;
    dd.statement = st.number;
    dd.ddname = st.name;
    std::vector<JclOperand> ops;
    if (!SplitOperands(st.operands, ops)) {
        errors.push_back({st.number, "IEFC629I INCORRECT USE OF PARENTHESIS OR APOSTROPHE"});
        return dd;
    }
    DdSource src;
    for (const JclOperand& op : ops) {
        std::string v = op.value;
        if (op.key.empty()) {
            std::string u = UpperAscii(v);
            if (u == "*" || u == "DATA") {
                src.instream = true;
                src.cards = st.instream;
            } else if (u == "DUMMY") {
                dd.dummy = true;
            } else if (!u.empty()) {
                errors.push_back({st.number, "IEFC630I UNIDENTIFIED POSITIONAL PARAMETER " + u});
            }
        } else if (op.key == "DSN" || op.key == "DSNAME") {
            src.dsn = UpperAscii(UnquoteJcl(v));
        } else if (op.key == "DISP") {
            std::vector<std::string> parts = SplitSubparams(UpperAscii(v));
            if (!parts.empty() && !parts[0].empty())
                dd.status = parts[0];
            if (parts.size() > 1)
                dd.normalDisp = parts[1];
            if (dd.status != "NEW" && dd.status != "OLD" && dd.status != "SHR" && dd.status != "MOD")
                errors.push_back({st.number, "IEFC630I INVALID DISP " + dd.status});
        } else if (op.key == "SYSOUT") {
            dd.sysout = true;
            std::vector<std::string> parts = SplitSubparams(UpperAscii(v));
            if (!parts.empty() && parts[0].size() == 1 && parts[0] != "*")
                dd.sysoutClass = parts[0][0];
        } else if (op.key == "DCB") {
            for (const std::string& sub : SplitSubparams(v)) {
                std::vector<JclOperand> inner;
                if (SplitOperands(sub, inner))
                    for (const JclOperand& in : inner)
                        ApplyDcbKeyword(in.key, in.value, dd, errors, st.number);
            }
        } else if (op.key == "RECFM" || op.key == "LRECL" || op.key == "BLKSIZE" || op.key == "DSORG") {
            ApplyDcbKeyword(op.key, v, dd, errors, st.number);
        } else if (op.key == "SPACE") {
            // SPACE=(TRK,(1,1,10)): a third quantity asks for a directory.
            std::vector<std::string> parts = SplitSubparams(v);
            if (parts.size() > 1) {
                std::vector<std::string> q = SplitSubparams(parts[1]);
                if (q.size() > 2 && ParseSmallNumber(q[2], 0) > 0) {
                    dd.attrs.dsorg = Dsorg::PO;
                    dd.attrs.dirblks = ParseSmallNumber(q[2], 10);
                }
            }
        } else if (op.key == "DSNTYPE") {
            std::string u = UpperAscii(v);
            if (u == "LIBRARY" || u == "PDS")
                dd.attrs.dsorg = Dsorg::PO;
        } else if (op.key == "VOL" || op.key == "VOLUME") {
            std::vector<std::string> parts = SplitSubparams(v);
            for (const std::string& p : parts) {
                std::vector<JclOperand> inner;
                if (SplitOperands(p, inner))
                    for (const JclOperand& in : inner)
                        if (in.key == "SER")
                            dd.attrs.volser = UpperAscii(SplitSubparams(in.value)[0]);
            }
        }
        // Other keywords (UNIT, SPACE units, LABEL, ...) do not change what
        // the emulator does and are accepted as they are.
    }
    if (src.instream || !src.dsn.empty())
        dd.sources.push_back(src);
    if (!src.dsn.empty() && src.dsn.compare(0, 2, "&&") != 0) {
        DsRef ref;
        std::string why;
        if (!ParseDsRef(src.dsn, ref, why))
            errors.push_back({st.number, "IEFC662I INVALID DSNAME " + src.dsn});
    }
    return dd;
}

} // namespace

bool BuildJob(const std::vector<std::string>& cards, JobSpec& job, std::vector<JclError>& errors, std::string& refusal)
{
    job = JobSpec();
    job.statements = ParseJclCards(cards, errors);
    if (job.statements.empty() || job.statements[0].op != "JOB") {
        refusal = "FIRST STATEMENT IS NOT A JOB STATEMENT";
        return false;
    }
    const JclStatement& jobSt = job.statements[0];
    if (!IsValidMemberName(jobSt.name)) {
        refusal = "INVALID JOB NAME '" + jobSt.name + "'";
        return false;
    }
    job.jobname = jobSt.name;
    std::vector<JclOperand> ops;
    if (!SplitOperands(jobSt.operands, ops))
        errors.push_back({jobSt.number, "IEFC629I INCORRECT USE OF PARENTHESIS OR APOSTROPHE"});
    for (const JclOperand& op : ops) {
        std::string v = UpperAscii(op.value);
        if (op.key == "CLASS" && v.size() == 1)
            job.jobclass = v[0];
        else if (op.key == "MSGCLASS" && v.size() == 1)
            job.msgclass = v[0];
    }
    for (size_t k = 1; k < job.statements.size(); ++k) {
        const JclStatement& st = job.statements[k];
        if (st.op == "EXEC") {
            StepSpec step;
            step.statement = st.number;
            step.name = st.name;
            if (!step.name.empty() && !IsValidMemberName(step.name))
                errors.push_back({st.number, "IEFC662I INVALID LABEL " + step.name});
            std::vector<JclOperand> eops;
            if (!SplitOperands(st.operands, eops))
                errors.push_back({st.number, "IEFC629I INCORRECT USE OF PARENTHESIS OR APOSTROPHE"});
            for (const JclOperand& op : eops) {
                if (op.key == "PGM") {
                    step.pgm = UpperAscii(op.value);
                } else if (op.key == "PARM") {
                    std::vector<std::string> parts = SplitSubparams(op.value);
                    std::string parm;
                    for (size_t p = 0; p < parts.size(); ++p)
                        parm += (p ? "," : "") + UnquoteJcl(parts[p]);
                    step.parm = parm;
                } else if (op.key.empty() || op.key == "PROC") {
                    if (step.pgm.empty() && !op.value.empty())
                        errors.push_back({st.number, "IEFC612I PROCEDURE " + UpperAscii(op.value) + " WAS NOT FOUND"});
                }
            }
            if (step.pgm.empty() && eops.empty())
                errors.push_back({st.number, "IEFC605I EXEC STATEMENT WITHOUT PGM"});
            if (!step.pgm.empty() && !IsValidMemberName(step.pgm))
                errors.push_back({st.number, "IEFC630I INVALID PROGRAM NAME " + step.pgm});
            if (step.parm.size() > 100)
                errors.push_back({st.number, "IEFC642I EXCESSIVE PARAMETER LENGTH IN THE PARM FIELD"});
            job.steps.push_back(std::move(step));
        } else if (st.op == "DD") {
            if (job.steps.empty()) {
                if (st.name != "JOBLIB")
                    errors.push_back({st.number, "IEFC607I DD STATEMENT BEFORE THE FIRST STEP"});
                continue;
            }
            DdSpec dd = BuildDd(st, errors);
            StepSpec& step = job.steps.back();
            if (dd.ddname.empty()) {
                // An unnamed DD continues the concatenation of the one before.
                if (step.dds.empty())
                    errors.push_back({st.number, "IEFC662I DD STATEMENT WITHOUT A NAME"});
                else
                    for (DdSource& s : dd.sources)
                        step.dds.back().sources.push_back(std::move(s));
                continue;
            }
            if (!IsValidMemberName(dd.ddname))
                errors.push_back({st.number, "IEFC662I INVALID LABEL " + dd.ddname});
            step.dds.push_back(std::move(dd));
        } else if (st.op == "JOB") {
            errors.push_back({st.number, "IEFC605I SECOND JOB STATEMENT IN ONE JOB"});
        } else if (st.op == "SET" || st.op == "OUTPUT" || st.op == "JCLLIB") {
            // Accepted and without effect here.
        } else {
            errors.push_back({st.number, "IEFC605I UNIDENTIFIED OPERATION FIELD " + st.op});
        }
    }
    if (job.steps.empty())
        errors.push_back({jobSt.number, "IEFC607I JOB HAS NO STEPS"});
    return true;
}

} // namespace hostemu
