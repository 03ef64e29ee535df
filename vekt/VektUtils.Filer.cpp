// TVektFiler: buffered line reading and writing of documents, the switch into and out of the
// binary form, block skipping and progress. The text form of single values lives here too,
// because the binary reader turns records back into those lines.
#include <algorithm>
#include <cstring>

#include "CodePage.h"
#include "SysUtils.h"
#include "VektUtils.h"

namespace {

constexpr size_t kHexBytesPerLine = 32;
constexpr std::string_view kMagic = "vektbinary";

} // namespace

bool IsKeywordLine(std::string_view line, std::string_view keyword) {
    size_t n = std::min(line.size(), keyword.size());
    return line.compare(0, n, keyword.substr(0, n)) == 0;
}

std::string QuotePropString(const std::string& value) {
    if (value.empty()) return value;
    bool quote = value.front() == '(' || value.front() == '{';
    for (char c : value)
        if (static_cast<unsigned char>(c) < '!' || c == '\'') quote = true;
    return quote ? "'" + value + "'" : value;
}

void FormatValueLines(std::vector<std::string>& lines, const std::string& pad,
                      const std::string& name, const TVariant& value, TValueForm form) {
    static const char digits[] = "0123456789ABCDEF";
    switch (form) {
    case TValueForm::StrList: {
        const std::vector<TVariant>& items = value.Items();
        if (items.empty()) {
            lines.push_back(pad + name + " = ( )");
            return;
        }
        lines.push_back(pad + name + " = (");
        for (size_t i = 0; i < items.size(); ++i) {
            std::string line = pad + "  '" + items[i].AsString() + "'";
            if (i + 1 == items.size()) line += " )";
            lines.push_back(std::move(line));
        }
        return;
    }
    case TValueForm::Data: {
        const std::vector<uint8_t>& bytes = value.ByteArray();
        if (bytes.empty()) {
            lines.push_back(pad + name + " = { }");
            return;
        }
        lines.push_back(pad + name + " = {");
        for (size_t at = 0; at < bytes.size(); at += kHexBytesPerLine) {
            size_t n = std::min(kHexBytesPerLine, bytes.size() - at);
            std::string line = pad + "  ";
            line.reserve(line.size() + 2 * n + 2);
            for (size_t i = 0; i < n; ++i) {
                line += digits[bytes[at + i] >> 4];
                line += digits[bytes[at + i] & 15];
            }
            if (at + n == bytes.size()) line += " }";
            lines.push_back(std::move(line));
        }
        return;
    }
    case TValueForm::Plain:
    case TValueForm::Set: break;
    }
    if (value.IsEmptyOrNull()) return;
    std::string text;
    if (value.VarType() == varBoolean)
        text = value.AsBoolean() ? "True" : "False";
    else if (value.IsOrdinal())
        text = value.AsString();
    else if (value.IsFloat())
        text = FloatToStrDot(value.AsDouble());
    else if (value.IsString())
        text = form == TValueForm::Set ? "[" + value.AsString() + "]"
                                       : QuotePropString(value.AsString());
    else
        return; // arrays have no plain text form
    lines.push_back(pad + name + " = " + text);
}

// --- TVektFiler ---

TVektFiler::TVektFiler(TStream& stream)
    : FStream(stream)
    , FStart(stream.GetPosition())
    , FBuffer(new char[BufferSize]) {
    FReadTotal = std::max<int64_t>(0, FStream.GetSize() - FStart);
}

TVektFiler::~TVektFiler() = default;

void TVektFiler::SetBinary(bool value) {
    if (value == FBinary) return;
    if (value) {
        if (FCoder)
            FCoder->Reset();
        else
            FCoder = std::make_unique<TVektBinaryData>(*this);
        FBinary = true;
        return;
    }
    // The section closes before the mode changes: record 9 is still a record.
    if (FCoder && FCoder->Mode() == TVektBinaryData::bmWriting && !FCoder->Finished())
        FCoder->Finish();
    FBinary = false;
    FRecordCommand = 0;
    if (FCoder) FCoder->Reset();
}

bool TVektFiler::FillBuffer() {
    FBufferPos = 0;
    int64_t n = FStream.Read(FBuffer.get(), BufferSize);
    FBufferFill = n > 0 ? static_cast<size_t>(n) : 0;
    FBytesRead += static_cast<int64_t>(FBufferFill);
    return FBufferFill > 0;
}

bool TVektFiler::ReadTextLine(std::string& line) {
    line.clear();
    for (;;) {
        if (FBufferPos >= FBufferFill && !FillBuffer()) return false;
        if (FBuffer[FBufferPos] != ' ') break;
        ++FBufferPos;
    }
    std::string raw;
    for (;;) {
        if (FBufferPos >= FBufferFill && !FillBuffer())
            break; // a last line without a break is still a line
        const char* begin = FBuffer.get() + FBufferPos;
        const char* end = FBuffer.get() + FBufferFill;
        const char* stop = begin;
        while (stop < end && *stop != '\r' && *stop != '\n')
            ++stop;
        raw.append(begin, stop);
        FBufferPos += static_cast<size_t>(stop - begin);
        if (stop == end) continue;
        char first = *stop;
        ++FBufferPos;
        if (FBufferPos < FBufferFill || FillBuffer()) {
            char next = FBuffer[FBufferPos];
            if ((next == '\r' || next == '\n') && next != first) ++FBufferPos;
        }
        break;
    }
    ++FLineNumber;
    line = AnsiToUtf8(raw);
    return true;
}

bool TVektFiler::ReadLine(std::string& line) {
    FPassOver = false;
    for (;;) {
        if (!FBinary) {
            FRecordCommand = 0;
            if (!ReadTextLine(line)) return false;
            ReportReading();
            if (line.size() == kMagic.size() && line == kMagic) SetBinary(true);
            return true;
        }
        if (FCoder->TakeQueuedLine(line)) {
            FRecordCommand = 0;
            return true;
        }
        if (!FCoder->ReadRecord()) {
            FRecordCommand = 0;
            line.clear();
            return false;
        }
        ReportReading();
        FRecordCommand = FCoder->Command();
        if (FRecordCommand == TVektBinaryData::bcTrim) continue; // the coder has trimmed
        if (FCoder->RecordToLine(line)) return true;
        if (FCoder->Finished()) {
            // The stream goes on as text after record 9.
            SetBinary(false);
            continue;
        }
        FPassOver = true;
        line.clear();
        return false;
    }
}

bool TVektFiler::NextLine(std::string& line) {
    for (;;) {
        // A loader takes values whole; lines queued for text readers are not its concern.
        if (FBinary) FCoder->DropQueuedLines();
        bool inBinary = FBinary;
        if (!ReadLine(line)) {
            if (FPassOver) continue;
            if (inBinary && FBinary) throw EReadError("Stream read error");
            return false;
        }
        if (!inBinary && FBinary) continue; // the magic line itself
        if (FRecordCommand >= TVektBinaryData::bcExtension) continue;
        // A value of a type this reader does not know has no line: passing it over keeps the
        // empty line it would give from closing the block.
        if (FRecordCommand == TVektBinaryData::bcValue && line.empty()) continue;
        return true;
    }
}

TFilerLineKind TVektFiler::LineKind(std::string_view line) const {
    switch (FRecordCommand) {
    case 0: break;
    case TVektBinaryData::bcDocument: return lkDocument;
    case TVektBinaryData::bcClipboard: return lkClipboard;
    case TVektBinaryData::bcLibrary: return lkLibrary;
    case TVektBinaryData::bcObject: return lkObject;
    case TVektBinaryData::bcProperty: return lkProperty;
    case TVektBinaryData::bcEnd: return lkEnd;
    default: return lkValue;
    }
    return TextLineKind(line);
}

TFilerLineKind TextLineKind(std::string_view line) {
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    // "end" first: an empty line counts as "end", and it would match every keyword.
    if (IsKeywordLine(line, "end")) return lkEnd;
    if (IsKeywordLine(line, "object")) return lkObject;
    if (IsKeywordLine(line, "property")) return lkProperty;
    if (IsKeywordLine(line, "document")) return lkDocument;
    if (IsKeywordLine(line, "clipboard")) return lkClipboard;
    if (IsKeywordLine(line, "library")) return lkLibrary;
    return lkValue;
}

const std::string& TVektFiler::RecordKey(int index) const {
    static const std::string none;
    return FRecordCommand != 0 && FCoder ? FCoder->Key(index) : none;
}

void TVektFiler::WriteLine(std::string_view line) {
    if (FBinary) {
        FCoder->LineToRecords(line);
        return;
    }
    std::string out = Utf8ToAnsi(line);
    out += "\r\n";
    FStream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

void TVektFiler::WriteBlock(const void* buffer, size_t count) {
    if (!FBinary) {
        WriteBuffer(buffer, count);
        return;
    }
    std::string_view text(static_cast<const char*>(buffer), count);
    while (!text.empty()) {
        size_t stop = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, stop);
        if (stop == std::string_view::npos) {
            text = {};
        } else {
            size_t next = stop + 1;
            if (next < text.size() && (text[next] == '\r' || text[next] == '\n') &&
                text[next] != text[stop])
                ++next;
            text.remove_prefix(next);
        }
        FCoder->LineToRecords(AnsiToUtf8(line));
    }
}

void TVektFiler::SkipBlock() {
    int depth = 1;
    std::string line;
    while (depth > 0 && NextLine(line)) {
        switch (LineKind(line)) {
        case lkEnd: --depth; break;
        case lkObject:
        case lkProperty: ++depth; break;
        default: break;
        }
    }
}

bool TVektFiler::SkipIfBlock(std::string_view line) {
    switch (LineKind(line)) {
    case lkDocument:
    case lkClipboard:
    case lkLibrary:
    case lkObject:
    case lkProperty: SkipBlock(); return true;
    default: return false;
    }
}

void TVektFiler::Rewind() {
    SetBinary(false);
    FStream.SetPosition(FStart);
    FBufferFill = FBufferPos = 0;
    FBytesRead = 0;
    FLineNumber = 0;
    FRecordCommand = 0;
    FPassOver = false;
    FReadTotal = std::max<int64_t>(0, FStream.GetSize() - FStart);
    FLastPercent = -1;
    FLastKind = 0;
}

size_t TVektFiler::Read(void* buffer, size_t count) {
    char* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        if (FBufferPos >= FBufferFill) {
            // Large reads go straight to the stream.
            if (count - done >= BufferSize) {
                int64_t n = FStream.Read(out + done, static_cast<int64_t>(count - done));
                if (n <= 0) break;
                FBytesRead += n;
                done += static_cast<size_t>(n);
                continue;
            }
            if (!FillBuffer()) break;
        }
        size_t n = std::min(count - done, FBufferFill - FBufferPos);
        std::memcpy(out + done, FBuffer.get() + FBufferPos, n);
        FBufferPos += n;
        done += n;
    }
    return done;
}

void TVektFiler::ReadBuffer(void* buffer, size_t count) {
    if (Read(buffer, count) != count) throw EReadError("Stream read error");
}

int64_t TVektFiler::Remaining() {
    int64_t buffered = static_cast<int64_t>(FBufferFill - FBufferPos);
    return buffered + std::max<int64_t>(0, FStream.GetSize() - FStream.GetPosition());
}

void TVektFiler::Skip(uint64_t count) {
    if (count > static_cast<uint64_t>(Remaining())) throw EReadError("Stream read error");
    size_t buffered = FBufferFill - FBufferPos;
    if (count <= buffered) {
        FBufferPos += static_cast<size_t>(count);
        return;
    }
    count -= buffered;
    FBufferPos = FBufferFill;
    FStream.Seek(static_cast<int64_t>(count), TSeekOrigin::soCurrent);
    FBytesRead += static_cast<int64_t>(count);
}

void TVektFiler::WriteBuffer(const void* buffer, size_t count) {
    FStream.WriteBuffer(buffer, static_cast<int64_t>(count));
}

bool TVektFiler::TakeValue(TVariant& value) {
    if (FRecordCommand != TVektBinaryData::bcValue || !FCoder) return false;
    return FCoder->TakeValue(value);
}

// --- Progress ---

void TVektFiler::Report(int percent, int kind) {
    if (!OnProgress || (percent == FLastPercent && kind == FLastKind)) return;
    FLastPercent = percent;
    FLastKind = kind;
    OnProgress(*this, percent, kind);
}

void TVektFiler::ReportReading() {
    if (!OnProgress || FReadTotal <= 0) return;
    int64_t done = std::clamp<int64_t>(Position(), 0, FReadTotal);
    Report(static_cast<int>((done * 100 + FReadTotal / 2) / FReadTotal), progressReading);
}

void TVektFiler::SetSavedCount(int64_t count) {
    FSavedCount = count;
    if (!OnProgress || FTotalCount <= 0) return;
    int64_t done = std::clamp<int64_t>(count, 0, FTotalCount);
    Report(static_cast<int>((done * 100 + FTotalCount / 2) / FTotalCount), progressWriting);
}

void TVektFiler::SetTotalCount(int64_t count) {
    FTotalCount = count;
}

std::string TVektFiler::Where() const {
    if ((FRecordCommand != 0 || FBinary) && FCoder && FCoder->RecordNumber() > 0)
        return "record " + std::to_string(FCoder->RecordNumber()) + " at byte " +
               std::to_string(FCoder->RecordOffset());
    return "line " + std::to_string(FLineNumber);
}
