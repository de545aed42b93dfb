#include "core/cli_run.h"

#include <cstdio>
#include <vector>

#include "core/format.h"
#include "core/text_output.h"
#include "model/safe_file.h"

namespace vir05 {

OpenStage OpenAndWriteTextOutput(const std::string& given, MemoryAreas& areas,
                                 const std::string& outputName, RunLog& log, std::string& caption,
                                 bool* written) {
    const std::string name = StripShellQuotes(given);
    const OpenStage stage = LoadDataFile(name, areas);
    if (stage != OpenStage::None) {
        caption = name + " ошибка " + OpenStageText(stage);
        return stage;
    }
    std::string why;
    const bool ok = WriteTextOutputOf(outputName, areas, log, &why);
    if (written) *written = ok;
    caption = ok ? name : "Ошибка: " + why;
    return OpenStage::None;
}

namespace {

// A whole number as typed, sign included, whether or not it fits.
bool LooksLikeNumber(const std::string& text) {
    std::size_t i = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i >= text.size()) return false;
    for (; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// A number given for an option that lies outside what the option can mean: a typo, which must
// not reach another controller or port. Text that is no number keeps its default.
bool OutOfRange(const std::string& text, int lo, int hi) {
    if (!LooksLikeNumber(text)) return false;
    const auto v = ParseInt(text);
    return !v || *v < lo || *v > hi;
}

// Why the command line cannot go as given, before anything is deleted, written or sent. A
// normal start (no run) is only held to never deleting the files it reads.
std::string RefusalReason(const CommandLine& cl) {
    const bool run = cl.commandLineRun != 0;
    if (run && OutOfRange(cl.netAddr, 0, 255))
        return "-n" + cl.netAddr + ": сетевой адрес вне диапазона 0..255";
    if (run && !cl.tcpPortText.empty() && OutOfRange(cl.tcpPortText, 1, 65535))
        return "-sp" + cl.tcpPortText + ": порт TCP вне диапазона 1..65535";
    // The run deletes and writes these names (the output named at the end of the line, and the
    // one in force where a data file is converted); what it reads must not be among them.
    std::vector<std::string> names;
    const auto addOutput = [&names](const std::string& output) {
        if (output.empty()) return;
        names.push_back(output);
        names.push_back(output + ".log");
    };
    addOutput(cl.outputName);
    std::vector<std::string> inputs;
    if (cl.convert) inputs.push_back(StripShellQuotes(cl.convertFile));
    for (const auto& file : cl.dataFiles) {
        inputs.push_back(StripShellQuotes(file.name));
        if (file.runAtArg != 0) addOutput(file.outputAtArg);
    }
    for (const std::string& name : names) {
        for (const std::string& input : inputs)
            if (SameExistingFile(name, input))
                return "выходной файл " + name + " совпадает с входным файлом " + input;
        if (run && !Replaceable(ClassifyNode(name)))
            return "выходной файл " + name + " не является обычным файлом";
    }
    return {};
}

// Ends the run with exit code 1; the log, when it is open, says why. `caption` empty: the
// caption is "Ошибка: " and the reason.
StartupOutcome Refused(StartupOutcome out, const std::string& reason, RunLog& log,
                       const std::string& caption = {}) {
    log.WriteLine("(error!) " + reason);
    log.WriteLine("log end error");
    log.Close();
    out.kind = StartupOutcome::Exit;
    out.exitCode = static_cast<int>(ExitCode::Failure);
    out.caption = caption.empty() ? "Ошибка: " + reason : caption;
    return out;
}

// Deletes the old text output and run log (a regular file or a link only) and starts the new
// log with "log start" and "log begin".
void StartRunLog(const std::string& outputName, RunLog& log) {
    RemoveIfReplaceable(outputName);
    const std::string logName = outputName + ".log";
    RemoveIfReplaceable(logName);
    if (log.Open(logName)) {
        log.WriteLine("log start");
        log.WriteLine("log begin");
    }
}

}  // namespace

StartupOutcome ProcessCommandLine(CommandLine& cl, MemoryAreas& areas, RunLog& log) {
    StartupOutcome out;
    // A run that cannot go as asked ends before it deletes, writes or sends anything.
    if (const std::string reason = RefusalReason(cl); !reason.empty())
        return Refused(out, reason, log);
    bool logStarted = false;
    // Data files named on the line open where they stand, with the text output name given
    // before them; where a run was already asked for, the opened file is converted and the run
    // ends.
    for (const auto& file : cl.dataFiles) {
        out.caption = file.name;
        // The conversion's log is this run's, not a previous run's left beside the output.
        if (file.runAtArg != 0 && !file.outputAtArg.empty() && !logStarted) {
            StartRunLog(file.outputAtArg, log);
            logStarted = true;
        }
        bool written = true;
        const OpenStage stage =
            OpenAndWriteTextOutput(file.name, areas, file.outputAtArg, log, out.caption, &written);
        if (stage == OpenStage::None) {
            if (file.runAtArg != 0) {
                out.kind = StartupOutcome::Exit;
                out.exitCode = static_cast<int>(written ? ExitCode::Success : ExitCode::Failure);
                return out;
            }
            out.openedFile = true;
        }
    }

    if (cl.outputName.empty()) return out;  // no log, no command

    if (!logStarted) StartRunLog(cl.outputName, log);
    if (cl.convert) {
        bool written = true;
        const OpenStage stage = OpenAndWriteTextOutput(cl.convertFile, areas, cl.outputName, log,
                                                       out.caption, &written);
        if (stage == OpenStage::None) {
            out.kind = StartupOutcome::Exit;
            out.exitCode = static_cast<int>(written ? ExitCode::Success : ExitCode::Failure);
            return out;
        }
        // An unattended conversion whose file cannot be opened fails: there is no user to see a
        // window, and the caller must not take an old output for this file's.
        if (cl.commandLineRun != kRunShow) return Refused(out, out.caption, log, out.caption);
    }

    out.commandLineConnect = cl.commandLineRun;
    if (cl.commandLineRun != kRunHidden && cl.commandLineRun != kRunShow) return out;
    out.hidden = cl.commandLineRun == kRunHidden;
    if (cl.commandLineRun == kRunShow) cl.commandLineRun = 0;  // the program stays open afterwards
    out.kind = StartupOutcome::StartCommand;
    out.command = cl.Command();
    return out;
}

}  // namespace vir05
