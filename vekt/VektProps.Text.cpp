// The text form of property values: writing property lines and blocks, reading them back.
#include <new>

#include "SysUtils.h"
#include "VektProps.h"

namespace {

// A hostile document cannot make one value take all memory.
constexpr size_t kDefaultDataBlockLimit = size_t(256) << 20;
size_t dataBlockLimit = kDefaultDataBlockLimit;

struct TModeGuard {
    TPropList* List;
    ~TModeGuard() {
        if (List) List->EndMode();
    }
};

bool Stored(TPropList* list, TCustomProp& prop, std::string_view subPropName) {
    if (list) return list->IsStored(prop, subPropName);
    return subPropName.empty() ? true : prop.IsSubPropStored(subPropName);
}

void AppendValueLines(std::vector<std::string>& out, const std::string& pad,
                      const std::string& name, const TVariant& value, TPropKind kind, bool isSet) {
    TValueForm form = kind == pkStrList ? TValueForm::StrList
                      : kind == pkData  ? TValueForm::Data
                      : isSet           ? TValueForm::Set
                                        : TValueForm::Plain;
    FormatValueLines(out, pad, name, value, form);
}

void AppendPropLines(std::vector<std::string>& out, TPropList* list, TCustomProp& prop,
                     bool saveAll, const std::string& name, int indent) {
    std::string pad(static_cast<size_t>(indent), ' ');
    TPropKind kind = prop.GetPropType("");
    if (kind != pkComplex) {
        AppendValueLines(out, pad, name, prop.GetPropValue(""), kind, false);
        return;
    }
    std::vector<std::string> body;
    const std::vector<TSubPropInfo>& table = prop.Published();
    for (const TSubPropInfo& info : table) {
        if (!saveAll && !Stored(list, prop, info.Name)) continue;
        if (info.Type == TSubPropType::Object) {
            // Nested objects keep their own stored rules even when everything else is written.
            if (TCustomProp* sub = prop.GetSubPropObject(info.Name))
                AppendPropLines(body, list, *sub, false, info.Name, indent + 2);
            continue;
        }
        AppendValueLines(body, pad + "  ", info.Name, prop.GetPropValue(info.Name),
                         prop.GetPropType(info.Name), info.Type == TSubPropType::Set);
    }
    if (body.empty()) return;
    out.push_back(pad + "property " + name);
    for (std::string& line : body)
        out.push_back(std::move(line));
    out.push_back(pad + "end");
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsHexText(std::string_view text) {
    for (char c : text)
        if (HexDigit(c) < 0 && c != ' ') return false;
    return true;
}

// Pairs of hexadecimal digits; an odd trailing character is ignored.
void DecodeHexInto(std::string_view hex, std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            throw EConvertError("Invalid hexadecimal data '" + std::string(hex.substr(i, 2)) + "'");
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
}

TVariant ReadStringList(TVektFiler& filer) {
    std::vector<TVariant> items;
    std::string line;
    while (filer.ReadLine(line)) {
        line = TrimRight(line);
        bool last = !line.empty() && line.back() == ')';
        if (last) line = TrimRight(line.substr(0, line.size() - 1));
        if (line.size() >= 2 && line.front() == '\'' && line.back() == '\'')
            items.emplace_back(line.substr(1, line.size() - 2));
        if (last) break;
    }
    return TVariant::Array(std::move(items));
}

TVariant ReadDataBlock(TVektFiler& filer, const std::string& firstRest, bool decode) {
    std::vector<uint8_t> bytes;
    bool dropped = !decode;
    auto add = [&](std::string_view hex) {
        if (dropped) return;
        if (bytes.size() + hex.size() / 2 > dataBlockLimit) {
            dropped = true;
            std::vector<uint8_t>().swap(bytes);
            return;
        }
        try {
            DecodeHexInto(hex, bytes);
        } catch (const std::bad_alloc&) {
            dropped = true;
            std::vector<uint8_t>().swap(bytes);
        }
    };
    add(Trim(firstRest));
    std::string line;
    while (filer.ReadLine(line)) {
        line = TrimRight(line);
        bool last = !line.empty() && line.back() == '}';
        if (last) line = TrimRight(line.substr(0, line.size() - 1));
        add(line);
        if (last) break;
    }
    return dropped ? TVariant() : TVariant::Bytes(std::move(bytes));
}

TVariant ReadValue(TVektFiler& filer, const std::string& text, bool decode) {
    if (!text.empty() && text.front() == '(' && text.back() != ')') return ReadStringList(filer);
    if (text == "( )") return TVariant();
    if (!text.empty() && text.front() == '{') {
        if (text.back() != '}') return ReadDataBlock(filer, text.substr(1), decode);
        // "{ }", and the one-line blocks the binary form turns its byte values into.
        std::string inner = Trim(std::string_view(text).substr(1, text.size() - 2));
        if (inner.empty()) return TVariant();
        if (IsHexText(inner)) {
            std::vector<uint8_t> bytes;
            std::string digits;
            for (char c : inner)
                if (c != ' ') digits += c;
            if (decode) DecodeHexInto(digits, bytes);
            return TVariant::Bytes(std::move(bytes));
        }
    }
    if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'')
        return TVariant(text.substr(1, text.size() - 2));
    return TVariant(text);
}

std::string SecondWord(const std::string& line) {
    size_t space = line.find(' ');
    if (space == std::string::npos) return {};
    size_t begin = line.find_first_not_of(' ', space);
    if (begin == std::string::npos) return {};
    size_t end = line.find(' ', begin);
    return Trim(line.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
}

// The errors of a value that does not fit its property; they get the property and the position.
bool IsValueError(const Exception& e) {
    return dynamic_cast<const EConvertError*>(&e) || dynamic_cast<const EVariantError*>(&e) ||
           dynamic_cast<const EInvalidGraphic*>(&e);
}

void Apply(TPropList* list, TCustomProp& prop, std::string_view subPropName, const TVariant& value,
           TPropRefList* refList) {
    if (list)
        list->LoadValue(prop, subPropName, value, refList);
    else
        prop.SetPropValue(subPropName, value);
}

// A value line "Name = value". With a target, the line addresses it (a sub-property of it when
// `isBlock`); without one, the property of that name in `list`.
void LoadValueLine(TPropList* list, TVektFiler& filer, const std::string& line, TCustomProp* target,
                   bool isBlock, TPropRefList* refList) {
    size_t eq = line.find('=');
    std::string name = eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
    std::string text = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
    // A record names its property in a key, which may hold what a line cannot tell apart.
    if (filer.RecordCommand() == TVektBinaryData::bcValue) name = Trim(filer.RecordKey(0));
    if (!target && list && !name.empty()) target = list->ByName(name);
    std::string subPropName = isBlock ? name : std::string();
    bool wanted = target && (!isBlock || !name.empty());
    try {
        TVariant value;
        if (!filer.TakeValue(value)) value = ReadValue(filer, text, wanted);
        if (wanted) Apply(list, *target, subPropName, value, refList);
    } catch (Exception& e) {
        if (wanted && IsValueError(e))
            e.SetMessage(e.Message() + " (property " + target->QualifiedName(subPropName) + ", " +
                         filer.Where() + ")");
        throw;
    }
}

// The name a "property" line or record opens a block for.
std::string BlockName(TVektFiler& filer, const std::string& line) {
    if (filer.RecordCommand() == TVektBinaryData::bcProperty) return Trim(filer.RecordKey(0));
    return SecondWord(line);
}

void LoadBlock(TPropList* list, TVektFiler& filer, TCustomProp& prop, TPropRefList* refList) {
    std::string line;
    while (filer.NextLine(line)) {
        switch (filer.LineKind(line)) {
        case lkEnd: return;
        case lkProperty:
            if (TCustomProp* sub = prop.GetSubPropObject(BlockName(filer, line)))
                LoadBlock(list, filer, *sub, refList);
            else
                filer.SkipBlock();
            continue;
        // An object inside a property block is not ours to read; its "end" must not close ours.
        case lkObject: filer.SkipBlock(); continue;
        default: LoadValueLine(list, filer, line, &prop, true, refList); continue;
        }
    }
}

} // namespace

size_t SetPropDataBlockLimit(size_t bytes) {
    size_t previous = dataBlockLimit;
    dataBlockLimit = bytes;
    return previous;
}

TVariant ReadPropValueText(TVektFiler& filer, const std::string& valueText) {
    return ReadValue(filer, valueText, true);
}

void TPropList::SaveProp(TVektFiler& filer, TCustomProp& prop, bool saveAll,
                         const std::string& name, int indent) {
    BeginSaving();
    TModeGuard guard{this};
    if (!saveAll && ((prop.Style() & propNotStored) || !IsStored(prop, ""))) return;
    std::vector<std::string> lines;
    AppendPropLines(lines, this, prop, saveAll, name, indent);
    for (const std::string& line : lines)
        filer.WriteLine(line);
}

void TPropList::SaveAll(TVektFiler& filer, int indent, bool saveAll) {
    for (size_t i = 0; i < FItems.size(); ++i)
        SaveProp(filer, *FItems[i].Prop, saveAll, FItems[i].Name, indent);
}

void TPropList::LoadProp(TVektFiler& filer, const std::string& firstLine, TPropRefList* refList) {
    BeginLoading();
    TModeGuard guard{this};
    switch (filer.LineKind(firstLine)) {
    case lkEnd: return;
    case lkProperty:
        if (TCustomProp* prop = ByName(BlockName(filer, firstLine)))
            LoadBlock(this, filer, *prop, refList);
        else
            filer.SkipBlock();
        return;
    default: LoadValueLine(this, filer, firstLine, nullptr, false, refList); return;
    }
}

void TPropList::LoadValue(TCustomProp& prop, std::string_view subPropName, const TVariant& value,
                          TPropRefList* refList) {
    if ((prop.RootProp().Style() & propDeferredLoad) && refList && !IsResolving()) {
        refList->Add(prop, subPropName, value);
        return;
    }
    prop.SetPropValue(subPropName, value);
}

void TPropList::SavePropState(TStream& stream, TCustomProp& prop) {
    TVektFiler filer(stream);
    std::string name = prop.Name();
    if (name.empty() || IsReservedName(name)) name = "Value";
    TPropList* list = prop.OwnerList();
    if (list) list->BeginSaving();
    TModeGuard guard{list};
    std::vector<std::string> lines;
    AppendPropLines(lines, list, prop, true, name, 0);
    for (const std::string& line : lines)
        filer.WriteLine(line);
}

void TPropList::LoadPropState(TStream& stream, TCustomProp& prop) {
    TVektFiler filer(stream);
    std::string line;
    if (!filer.ReadLine(line)) return;
    TPropList* list = prop.OwnerList();
    if (list) list->BeginLoading();
    TModeGuard guard{list};
    if (IsKeywordLine(line, "property"))
        LoadBlock(list, filer, prop, nullptr);
    else
        LoadValueLine(list, filer, line, &prop, false, nullptr);
}

bool TPropList::AssignProp(TCustomProp& target, TCustomProp& source) {
    if (target.IsReadOnly()) return false;
    TMemoryStream stream;
    SavePropState(stream, source);
    stream.SetPosition(0);
    LoadPropState(stream, target);
    return true;
}
