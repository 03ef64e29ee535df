#include "VekTool.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <unistd.h>

#include "Classes.h"
#include "SysUtils.h"
#include "UtilityStream.h"
#include "VektBase.h"

namespace {

const char* const Usage = R"(Usage: vektool COMMAND ARGS...

Documents of the console's drawings, in the text form and the binary form, and the drawing
payload the server sends and the console caches ("bg_cache": one zlib stream of tagged
sections, section 0 the document). Wherever a document is read, a drawing payload is
accepted too and its document taken.

Commands:
  convert IN OUT [--binary|--text]
                 writes the document in the other form (or the one asked for); every block
                 is kept, classes this program does not know included
  dump IN        the tree: class, name, ID and layer of every object, the count of each
                 class, and the classes this program does not know (a load skips those,
                 children and all)
  check IN       loads the document as the console does; prints what it holds, or the error
                 with the line or record where it occurred (exit code 1)
  pack IN OUT    the drawing payload of the document IN
  unpack IN OUT  the document of the drawing payload IN
  --help         this text

Output files are written whole or not at all. Large files show a progress bar on a terminal.
Exit codes: 0 done, 1 bad input or a failed operation, 2 bad usage.
)";

class EToolError : public Exception {
public:
    using Exception::Exception;
};

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool ProgressWanted(int64_t bytes) {
    return bytes >= kProgressBarMinBytes && isatty(STDERR_FILENO);
}

std::unique_ptr<TMemoryStream> ReadFile(const std::string& fileName) {
    auto stream = std::make_unique<TMemoryStream>();
    stream->LoadFromFile(fileName);
    return stream;
}

// A zlib stream starts with a header whose check bits make it a multiple of 31.
bool LooksCompressed(TMemoryStream& stream) {
    if (stream.GetSize() < 2) return false;
    const auto* p = static_cast<const uint8_t*>(stream.Memory());
    return (p[0] & 0x0F) == 8 && (p[0] >> 4) <= 7 && (p[0] * 256 + p[1]) % 31 == 0;
}

// The document of a drawing payload, bounded by its section.
std::unique_ptr<TMemoryStream> UnpackPayload(TStream& payload) {
    TVelmarMemoryStream inflated;
    payload.SetPosition(0);
    DecompressStream(payload, inflated);
    int64_t offset = 0, length = 0;
    if (!FindDrawingDocument(inflated, offset, length))
        throw EToolError("the drawing payload has no document section");
    if (length < 0 || length > inflated.GetSize() - offset)
        throw EToolError("the document section runs past the end of the drawing payload");
    auto document = std::make_unique<TMemoryStream>();
    document->WriteBuffer(static_cast<const char*>(inflated.Memory()) + offset, length);
    document->SetPosition(0);
    return document;
}

// A document file, or the document inside a drawing payload.
std::unique_ptr<TMemoryStream> ReadDocument(const std::string& fileName) {
    std::unique_ptr<TMemoryStream> stream = ReadFile(fileName);
    if (LooksCompressed(*stream)) return UnpackPayload(*stream);
    return stream;
}

// Written beside the target and renamed over it, so a failure leaves no half-written file.
void WriteFileWhole(const std::string& fileName, TMemoryStream& data) {
    std::string temp = fileName + ".tmp" + std::to_string(getpid());
    try {
        data.SaveToFile(temp);
    } catch (...) {
        std::remove(temp.c_str());
        throw;
    }
    if (std::rename(temp.c_str(), fileName.c_str()) != 0) {
        int error = errno;
        std::remove(temp.c_str());
        throw EToolError("cannot write \"" + fileName + "\": " + std::strerror(error));
    }
}

void AttachProgress(TVektFiler& filer, TProgressBar& bar) {
    filer.OnProgress = [&bar](TVektFiler&, int percent, int) { bar.Update(percent); };
}

// --- Commands ---

int Convert(const std::string& in, const std::string& out, int form, std::ostream& report) {
    std::unique_ptr<TMemoryStream> input = ReadDocument(in);
    bool toBinary;
    if (form >= 0) {
        toBinary = form == 1;
    } else {
        // The other form than the input's.
        std::string start(static_cast<const char*>(input->Memory()),
                          static_cast<size_t>(std::min<int64_t>(input->GetSize(), 64)));
        toBinary = start.find("vektbinary") == std::string::npos;
    }
    TMemoryStream output;
    TVektFiler reader(*input);
    TVektFiler writer(output);
    TProgressBar bar(stderr, ProgressWanted(input->GetSize()));
    AttachProgress(reader, bar);
    ConvertDocument(reader, writer, toBinary);
    bar.Done();
    WriteFileWhole(out, output);
    report << out << ": " << (toBinary ? "binary" : "text") << " form, " << output.GetSize()
           << " bytes\n";
    return 0;
}

struct TDumpNode {
    std::string ClassName, Name, Id, Layer;
    std::vector<std::unique_ptr<TDumpNode>> Children;
};

std::string ValueText(const TDocItem& item) {
    if (item.Typed) return item.Value.AsString();
    if (item.Lines.empty()) return {};
    const std::string& line = item.Lines.front();
    size_t eq = line.find('=');
    std::string text = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
    if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'')
        text = text.substr(1, text.size() - 2);
    return text;
}

int Dump(const std::string& in, std::ostream& out) {
    std::unique_ptr<TMemoryStream> input = ReadDocument(in);
    TVektFiler filer(*input);
    TProgressBar bar(stderr, ProgressWanted(input->GetSize()));
    AttachProgress(filer, bar);
    TDocumentWalker walker(filer);
    TDumpNode root;
    // The node each open block belongs to (none for property blocks and libraries).
    std::vector<TDumpNode*> open;
    std::map<std::string, int64_t> counts, unknown;
    TDocItem item;
    while (walker.Next(item)) {
        switch (item.Kind) {
        case lkDocument:
        case lkClipboard:
            root.ClassName = item.Line;
            open.push_back(&root);
            break;
        case lkObject: {
            TDumpNode* parent = nullptr;
            for (auto it = open.rbegin(); it != open.rend() && !parent; ++it)
                parent = *it;
            auto node = std::make_unique<TDumpNode>();
            node->ClassName = item.ClassName;
            node->Name = item.Name;
            ++counts[item.ClassName];
            if (!FindControlClass(item.ClassName)) ++unknown[item.ClassName];
            TDumpNode* raw = node.get();
            (parent ? parent : &root)->Children.push_back(std::move(node));
            open.push_back(raw);
            break;
        }
        case lkProperty:
        case lkLibrary: open.push_back(nullptr); break;
        case lkEnd:
            if (!open.empty()) open.pop_back();
            break;
        case lkValue:
            // Only the object's own lines, not those of its property blocks.
            if (!open.empty() && open.back() && open.back() != &root) {
                if (item.Name == "ID") open.back()->Id = ValueText(item);
                if (item.Name == "Layer") open.back()->Layer = ValueText(item);
            }
            break;
        }
    }
    bar.Done();

    out << root.ClassName << "\n";
    std::function<void(const TDumpNode&, int)> print = [&](const TDumpNode& node, int depth) {
        out << std::string(2 * depth, ' ') << node.ClassName << " \"" << node.Name << "\"";
        if (!node.Id.empty()) out << " ID " << node.Id;
        if (!node.Layer.empty()) out << " layer \"" << node.Layer << "\"";
        if (!FindControlClass(node.ClassName)) out << " (unknown class)";
        out << "\n";
        for (const auto& child : node.Children)
            print(*child, depth + 1);
    };
    for (const auto& child : root.Children)
        print(*child, 1);
    int64_t total = 0;
    out << "classes:\n";
    for (const auto& [name, count] : counts) {
        out << "  " << name << " " << count << "\n";
        total += count;
    }
    out << "objects: " << total << "\n";
    out << "unknown classes:";
    if (unknown.empty()) out << " none";
    for (const auto& [name, count] : unknown)
        out << " " << name << " (" << count << ")";
    out << "\n";
    return 0;
}

// Counts what a load passes over, as the monitoring panel does.
class TCheckPanel : public TVektPanel {
public:
    std::map<std::string, int64_t> Unknown;

    TVektControl* LoadControl(TVektFiler& filer, TVektControl* parent, bool allowUnparented,
                              const std::string& firstLine) override {
        std::string name, className;
        if (ParseObjectLine(filer, firstLine, name, className) && !FindControlClass(className))
            ++Unknown[className];
        return TVektPanel::LoadControl(filer, parent, allowUnparented, firstLine);
    }
};

int Check(const std::string& in, std::ostream& out, std::ostream& err) {
    std::unique_ptr<TMemoryStream> input = ReadDocument(in);
    TCheckPanel panel;
    TProgressBar bar(stderr, ProgressWanted(input->GetSize()));
    panel.OnProgress = [&bar](TVektPanel&, int progress, TVektFilerProcess) {
        bar.Update(progress);
    };
    std::unique_ptr<TVektFiler> filer = panel.CreateFiler(*input, ppLoad, false);
    try {
        panel.LoadFromFiler(*filer, TVektPanel::lmReplace);
    } catch (const Exception& e) {
        bar.Done();
        std::string where = filer->Where();
        // Value errors already say where they are.
        if (e.Message().find(where) != std::string::npos)
            err << in << ": " << e.Message() << "\n";
        else
            err << in << ": " << where << ": " << e.Message() << "\n";
        return 1;
    }
    bar.Done();
    int64_t controls = 0;
    for (int i = 0; i < panel.Schemes()->Count(); ++i) {
        TPassControlRec pass;
        pass.Start(panel.Schemes()->Controls(i));
        while (pass.Next())
            ++controls;
    }
    out << in << ": " << (panel.SaveAsBinary ? "binary" : "text") << " form, "
        << panel.Schemes()->Count() << " schemes, " << panel.Layers()->Count() << " layers, "
        << controls << " controls\n";
    if (!panel.Unknown.empty()) {
        out << "skipped unknown classes:";
        for (const auto& [name, count] : panel.Unknown)
            out << " " << name << " (" << count << ")";
        out << "\n";
    }
    return 0;
}

int Pack(const std::string& in, const std::string& out, std::ostream& report) {
    std::unique_ptr<TMemoryStream> document = ReadFile(in);
    std::string start(static_cast<const char*>(document->Memory()),
                      static_cast<size_t>(std::min<int64_t>(document->GetSize(), 12)));
    if (!StartsWith(start, "document") && !StartsWith(start, "clipboard") &&
        !StartsWith(start, "vektbinary"))
        throw EToolError("\"" + in + "\" is not a document");
    TMemoryStream sections;
    WriteDrawingSection(sections, 0, document->Memory(), document->GetSize());
    sections.SetPosition(0);
    TMemoryStream packed;
    TProgressBar bar(stderr, ProgressWanted(sections.GetSize()));
    CompressStream(
        sections, packed, 9,
        [](int percent, void* context) { static_cast<TProgressBar*>(context)->Update(percent); },
        &bar);
    bar.Done();
    WriteFileWhole(out, packed);
    report << out << ": drawing payload, " << packed.GetSize() << " bytes\n";
    return 0;
}

int Unpack(const std::string& in, const std::string& out, std::ostream& report) {
    std::unique_ptr<TMemoryStream> payload = ReadFile(in);
    std::unique_ptr<TMemoryStream> document = UnpackPayload(*payload);
    WriteFileWhole(out, *document);
    report << out << ": document, " << document->GetSize() << " bytes\n";
    return 0;
}

} // namespace

// --- TDocumentWalker ---

bool TDocumentWalker::Next(TDocItem& item) {
    item = TDocItem();
    if (FDone) return false;
    std::string line;
    if (!FStarted) {
        FStarted = true;
        bool got = FFiler.ReadLine(line);
        if (got && StartsWith(line, "vektbinary")) got = FFiler.ReadLine(line);
        uint16_t record = FFiler.RecordCommand();
        bool header =
            record ? record == TVektBinaryData::bcDocument || record == TVektBinaryData::bcClipboard
                   : StartsWith(line, "document") || StartsWith(line, "clipboard");
        if (!got || !header) throw EReadError("Data format error");
        item.Kind = FFiler.LineKind(line);
        item.Line = line;
        FDepth = 1;
        return true;
    }
    if (!FFiler.NextLine(line)) {
        // A text document may end without closing its blocks; the loaders take that as closed.
        item.Kind = lkEnd;
        item.Line = "end";
        item.Depth = --FDepth;
        if (FDepth == 0) FDone = true;
        return true;
    }
    item.Kind = FFiler.LineKind(line);
    item.Line = line;
    item.Depth = FDepth;
    switch (item.Kind) {
    case lkEnd:
        item.Depth = --FDepth;
        if (FDepth == 0) FDone = true;
        break;
    case lkObject:
        if (!TVektPanel::ParseObjectLine(FFiler, line, item.Name, item.ClassName)) {
            item.Name = Trim(std::string_view(line).substr(std::min<size_t>(line.size(), 6)));
            item.ClassName.clear();
        }
        ++FDepth;
        break;
    case lkProperty:
    case lkDocument:
    case lkClipboard:
    case lkLibrary: ++FDepth; break;
    case lkValue: {
        if (FFiler.TakeValue(item.Value)) {
            item.Typed = true;
            item.Name = FFiler.RecordKey(0);
            break;
        }
        size_t eq = line.find('=');
        item.Name = eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
        item.Lines.push_back(line);
        std::string value = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
        char closing = 0;
        if (!value.empty() && value.front() == '(' && value.back() != ')') closing = ')';
        if (!value.empty() && value.front() == '{' && value.back() != '}') closing = '}';
        while (closing && FFiler.ReadLine(line)) {
            item.Lines.push_back(line);
            std::string right = TrimRight(line);
            if (!right.empty() && right.back() == closing) closing = 0;
        }
        break;
    }
    }
    return true;
}

// --- ConvertDocument ---

void ConvertDocument(TVektFiler& in, TVektFiler& out, bool binary) {
    if (binary) out.SetBinary(true);
    auto writeText = [&out](const std::string& line, TFilerLineKind kind) {
        if (line.find_first_of("\r\n") != std::string::npos || TextLineKind(line) != kind)
            throw EToolError("a value or name holds what the text form cannot carry: \"" +
                             line.substr(0, 60) + "\"");
        out.WriteLine(line);
    };
    TDocumentWalker walker(in);
    TDocItem item;
    while (walker.Next(item)) {
        std::string pad(static_cast<size_t>(2 * item.Depth), ' ');
        if (item.Kind != lkValue) {
            std::string line = item.Kind == lkEnd ? std::string("end") : item.Line;
            if (binary)
                out.WriteLine(line);
            else
                writeText(pad + line, item.Kind);
            continue;
        }
        if (item.Typed) {
            if (binary) {
                out.BinaryData()->WriteValue(item.Name, item.Value);
                continue;
            }
            std::vector<std::string> lines;
            TValueForm form = item.Value.VarType() == (varArray | varByte) ? TValueForm::Data
                              : item.Value.IsArray()                       ? TValueForm::StrList
                                                                           : TValueForm::Plain;
            FormatValueLines(lines, pad, item.Name, item.Value, form);
            if (lines.empty()) lines.push_back(pad + item.Name + " = "); // empty and null
            for (size_t i = 0; i < lines.size(); ++i)
                writeText(lines[i], i == 0 ? lkValue : TextLineKind(lines[i]));
            continue;
        }
        // A text line that is no value line (library contents, stray text) says nothing a
        // reader takes, and the binary form has no record for it.
        if (item.Lines.front().find('=') == std::string::npos) continue;
        for (size_t i = 0; i < item.Lines.size(); ++i) {
            if (binary)
                out.WriteLine(item.Lines[i]);
            else
                out.WriteLine((i == 0 ? pad : pad + "  ") + item.Lines[i]);
        }
    }
}

// --- TProgressBar ---

void TProgressBar::Update(int percent) {
    if (!FEnabled || percent == FLast) return;
    FLast = std::clamp(percent, 0, 100);
    constexpr int width = 40;
    int filled = FLast * width / 100;
    std::fprintf(FOut, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), FLast);
    std::fflush(FOut);
}

void TProgressBar::Done() {
    if (!FEnabled || FLast < 0) return;
    std::fprintf(FOut, "\r%*s\r", 48, "");
    std::fflush(FOut);
    FLast = -1;
}

// --- Command line ---

int RunVekTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << Usage;
        return args.empty() ? 2 : 0;
    }
    const std::string& command = args[0];
    std::vector<std::string> operands;
    int form = -1;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--binary" && command == "convert")
            form = 1;
        else if (args[i] == "--text" && command == "convert")
            form = 0;
        else if (args[i] == "--help") {
            out << Usage;
            return 0;
        } else if (StartsWith(args[i], "--")) {
            err << "vektool: unknown option " << args[i] << " (see vektool --help)\n";
            return 2;
        } else
            operands.push_back(args[i]);
    }
    size_t wanted = command == "dump" || command == "check"                            ? 1
                    : command == "convert" || command == "pack" || command == "unpack" ? 2
                                                                                       : 0;
    if (wanted == 0) {
        err << "vektool: unknown command \"" << command << "\" (see vektool --help)\n";
        return 2;
    }
    if (operands.size() != wanted) {
        err << "vektool: " << command << " takes " << wanted << (wanted == 1 ? " file" : " files")
            << " (see vektool --help)\n";
        return 2;
    }
    try {
        if (command == "convert") return Convert(operands[0], operands[1], form, out);
        if (command == "dump") return Dump(operands[0], out);
        if (command == "check") return Check(operands[0], out, err);
        if (command == "pack") return Pack(operands[0], operands[1], out);
        return Unpack(operands[0], operands[1], out);
    } catch (const EToolError& e) {
        err << "vektool: " << e.Message() << "\n";
    } catch (const Exception& e) {
        err << "vektool: " << operands[0] << ": " << e.Message() << "\n";
    } catch (const std::bad_alloc&) {
        err << "vektool: " << operands[0] << ": out of memory\n";
    }
    return 1;
}
