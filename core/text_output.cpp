#include "core/text_output.h"

#include <charconv>
#include <cstdio>
#include <memory>

#include "core/format.h"
#include "model/bytes.h"
#include "model/memory.h"
#include "model/safe_file.h"

namespace vir05 {

namespace {

// Appends key=value lines without building a string per value.
class Writer {
  public:
    explicit Writer(std::string& out) : out_(out) {}

    void Line(std::string_view text) {
        out_ += text;
        out_ += "\r\n";
    }
    void Key(std::string_view prefix, int circuit, std::string_view key) {
        out_ += prefix;
        if (circuit > 0) AppendInt(circuit);
        out_ += key;
    }
    void Int(std::string_view prefix, int circuit, std::string_view key, long long v) {
        Key(prefix, circuit, key);
        AppendInt(v);
        out_ += "\r\n";
    }
    void Decimal(std::string_view prefix, int circuit, std::string_view key, double v) {
        Key(prefix, circuit, key);
        if (v == 0.0) {
            out_ += '0';
        } else {
            char buf[32];
            const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
            out_.append(buf, r.ptr);
        }
        out_ += "\r\n";
    }
    void Flag(std::string_view prefix, int circuit, std::string_view key, bool v) {
        Key(prefix, circuit, key);
        out_ += v ? '1' : '0';
        out_ += "\r\n";
    }
    void Two(int v) {
        // "%2.2u": at least two digits, zero-padded.
        if (v < 10) out_ += '0';
        AppendInt(v);
    }
    std::string& Raw() { return out_; }

  private:
    void AppendInt(long long v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        out_.append(buf, r.ptr);
    }
    std::string& out_;
};

void CircuitLines(Writer& w, const std::uint8_t* image, int c) {
    const std::uint8_t* r = image + CircuitRecordAddr(c - 1);
    w.Int("S", c, "Type=", r[rec::Scheme]);
    w.Decimal("S", c, "T1=", I16(r, rec::T11) * 0.01);
    w.Decimal("S", c, "T2=", I16(r, rec::T2) * 0.01);
    w.Decimal("S", c, "T3=", I16(r, rec::Tn) * 0.01);
    w.Decimal("S", c, "T4=", I16(r, rec::Tk) * 0.01);
    w.Decimal("S", c, "T5=", I16(r, rec::T21) * 0.01);
    w.Int("S", c, "G1=", I16(r, rec::G1));
    w.Decimal("S", c, "Tz=", I16(r, rec::Base) * 0.01);
    w.Decimal("S", c, "Tr=", I16(r, rec::Real) * 0.01);
    w.Decimal("S", c, "Tps=", r[rec::T3r]);
    w.Decimal("S", c, "Tos=", r[rec::T2r]);
    w.Decimal("S", c, "Tls=", r[rec::T1r]);
    w.Decimal("S", c, "Tvs=", r[rec::Tv]);
    static constexpr std::string_view kPumps[] = {"Pomp1=", "Pomp2=", "Pomp3=", "Pomp4="};
    for (int p = 0; p < 4; ++p)
        w.Flag("S", c, kPumps[p], (r[rec::Inputs] >> (4 + p)) & 1);
    w.Flag("S", c, "Err=", U16(r, rec::Errors) != 0);
}

void SampleLines(Writer& w, const std::uint8_t* sample, int c) {
    const CircuitSample s = DecodeSample(sample);
    w.Decimal("S", c, "T1=", s.T11 * 0.1);
    w.Decimal("S", c, "T2=", s.T2 * 0.1);
    w.Decimal("S", c, "T3=", s.Tk * 0.1);
    w.Decimal("S", c, "T4=", s.Tn * 0.1);
    w.Int("S", c, c == 1 ? "Klap=" : "TKlap=", s.Klap);
    w.Decimal("S", c, "Tz=", s.Base * 0.1);
    w.Decimal("S", c, "Tr=", s.Real * 0.1);
    w.Flag("S", c, "Err=", s.Errors != 0);
}

void RecordSection(Writer& w, const std::uint8_t* record, ArchiveTime t, long long n, char type) {
    std::string& out = w.Raw();
    out += "\r\n[";
    out += std::to_string(n);
    out += "]\r\nRecType=";
    out += type;
    out += "\r\nDate=";
    w.Two(t.Day());
    out += '.';
    w.Two(t.Month());
    out += '.';
    w.Two(t.Year() - 2000);
    out += "\r\nTime=";
    w.Two(t.Hour());
    out += ':';
    w.Two(t.Minute());
    out += ':';
    w.Two(t.Second());
    out += "\r\n";
    SampleLines(w, record + 4, 1);
    SampleLines(w, record + 16, 2);
}

}  // namespace

void AppendTextOutput(std::string& out, const TextOutputSource& src, ArchiveOrder& order) {
    Writer w(out);
    const std::uint8_t* snap = src.snapshot.data();
    const int numSystems = src.snapshot.NumSystems();
    w.Line("[0]");
    out += "Date=" + Hex2(snap[addr::ClockDay]) + "." + Hex2(snap[addr::ClockMonth]) + "." +
           Hex2(snap[addr::ClockYear]) + "\r\n";
    w.Line("Time=" + src.panelTime);
    w.Int("NumSystems=", 0, "", numSystems);
    w.Int("DevNumber=", 0, "", I32(snap, addr::DevNumber));
    w.Decimal("SoftVer=", 0, "", U16(snap, addr::SoftVer) * 0.01);
    for (int c = 1; c <= numSystems; ++c)
        CircuitLines(w, src.image, c);

    if (numSystems == 1) return;  // one-circuit records carry no second sample
    const std::size_t n = SortArchive(src.archive, numSystems, order);
    long long section = 0;
    for (const char type : {'H', 'D'}) {
        for (std::size_t k = 1; k < n; ++k) {
            const std::uint8_t* record = src.archive + order[k].offset;
            const ArchiveTime t = DecodeArchiveTime(record);
            if (!t.Valid()) continue;
            const ArchiveTime before = DecodeArchiveTime(src.archive + order[k - 1].offset);
            const bool newDay = t.Day() != before.Day();
            const bool take = type == 'H' ? newDay || t.Hour() != before.Hour() : newDay;
            if (take) RecordSection(w, record, t, ++section, type);
        }
    }
}

bool WriteTextOutput(const std::string& outputName, const std::string& programDir,
                     const TextOutputSource& source, RunLog& log, std::string* why) {
    // Only a regular file or a link of that name is ever deleted; a device, FIFO or directory
    // stays as it is, and the output then fails below.
    RemoveIfReplaceable(outputName);
    const std::string path = programDir + outputName;
    static ArchiveOrder order;  // scratch; the presentation runs on one thread only
    std::string text;
    text.reserve(1 << 20);
    AppendTextOutput(text, source, order);
    // Written beside the name and renamed into place: a reader never sees half a file, a failed
    // write (a full disk) leaves none, and concurrent runs each leave a whole file.
    std::string error;
    const bool written = ReplaceFileWith(path, text, error);
    if (!written) {
        log.WriteLine(outputName + " - (error!) невозможно записать файл!");
        log.WriteLine("(error!) " + path + ": " + error);
        log.WriteLine("log end error");
        if (why) *why = "невозможно записать файл " + path + ": " + error;
    } else {
        log.WriteLine("log end done");
    }
    log.Close();
    return written;
}

bool WriteTextOutputOf(const std::string& outputName, const MemoryAreas& areas, RunLog& log,
                       std::string* why) {
    const ImageSnapshot snapshot = TakeSnapshot(areas.DeviceImage());
    const TextOutputSource source{snapshot, areas.DeviceImage(), areas.ArchiveImage(),
                                  PanelTimeText(areas.DeviceImage())};
    return WriteTextOutput(outputName, areas.ProgramDir, source, log, why);
}

}  // namespace vir05
