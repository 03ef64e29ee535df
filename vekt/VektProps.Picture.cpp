// Pictures: the graphic classes a document may name, the persisted picture form, linked picture
// files, frames and drawing.
#include <filesystem>
#include <map>
#include <unistd.h>

#include "Icon.h"
#include "JpegImage.h"
#include "Metafile.h"
#include "SysUtils.h"
#include "VektProps.h"

namespace {

constexpr size_t kMaxClassNameLength = 63;
// A linked picture file above this size is refused rather than read.
constexpr uintmax_t kMaxPictureFileBytes = uintmax_t(64) << 20;

std::map<std::string, TGraphicFactory, std::less<>>& GraphicClasses() {
    static std::map<std::string, TGraphicFactory, std::less<>> classes = {
        {"TBitmap", [] { return std::make_unique<TBitmap>(); }},
        {"TJPEGImage", [] { return std::make_unique<TJPEGImage>(); }},
        {"TMetafile", [] { return std::make_unique<TMetafile>(); }},
        {"TIcon", [] { return std::make_unique<TIcon>(); }},
    };
    return classes;
}

// The classes the persisted form is read for; the last three are the platform's further
// image classes, taken by name.
bool IsAcceptedClass(std::string_view name) {
    for (const char* accepted : {"TBitmap", "TJPEGImage", "TMetafile", "TIcon", "TdxSmartImage",
                                 "TdxPNGImage", "TOleGraphic"})
        if (name == accepted) return true;
    return false;
}

// A graphic of the class, or one that keeps the bytes when this process has no decoder.
std::unique_ptr<TGraphic> NewGraphic(const std::string& className) {
    if (std::unique_ptr<TGraphic> graphic = CreateGraphic(className)) return graphic;
    return std::make_unique<TUndecodedGraphic>(className);
}

uint32_t ReadLE32(std::span<const uint8_t> bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

void AppendLE32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

[[noreturn]] void Refuse(const std::string& message) {
    throw EInvalidGraphic(message);
}

// The data of a class that has a 4-byte size first; `countsItself` for metafiles.
std::span<const uint8_t> SizedData(const std::string& name, std::span<const uint8_t> rest,
                                   bool countsItself) {
    if (rest.size() < 4) Refuse("Picture data of " + name + " ends inside its size");
    uint64_t size = ReadLE32(rest);
    if (countsItself) size = size <= 4 ? 0 : size - 4;
    if (size > rest.size() - 4)
        Refuse(Format("Picture data of %s claims %llu bytes, %zu are left", name.c_str(),
                      static_cast<unsigned long long>(size), rest.size() - 4));
    return rest.subspan(4, static_cast<size_t>(size));
}

// An icon file image carries no size: it ends after the last image its directory lists.
std::span<const uint8_t> IconData(std::span<const uint8_t> rest) {
    if (rest.size() < 6 || rest[0] != 0 || rest[1] != 0 || (rest[2] != 1 && rest[2] != 2) ||
        rest[3] != 0)
        Refuse("Icon data has no icon directory");
    size_t count = size_t(rest[4]) | size_t(rest[5]) << 8;
    size_t end = 6 + 16 * count;
    if (end > rest.size())
        Refuse(Format("Icon directory of %zu images does not fit %zu bytes", count, rest.size()));
    for (size_t i = 0; i < count; ++i) {
        std::span<const uint8_t> entry = rest.subspan(6 + 16 * i, 16);
        uint64_t length = ReadLE32(entry.subspan(8)), offset = ReadLE32(entry.subspan(12));
        if (offset > rest.size() || length > rest.size() - offset)
            Refuse(Format("Icon image %zu lies outside the %zu bytes of the icon", i, rest.size()));
        end = std::max(end, static_cast<size_t>(offset + length));
    }
    return rest.first(end);
}

std::string ProgramFolder() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::filesystem::current_path().string();
    return std::filesystem::path(std::string(path, static_cast<size_t>(n))).parent_path().string();
}

} // namespace

void RegisterGraphicClass(const std::string& className, TGraphicFactory factory) {
    GraphicClasses()[className] = std::move(factory);
}

std::unique_ptr<TGraphic> CreateGraphic(std::string_view className) {
    auto it = GraphicClasses().find(className);
    return it == GraphicClasses().end() ? nullptr : it->second();
}

std::unique_ptr<TGraphic> ReadPersistedGraphic(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes[0] == 0) return nullptr;
    size_t length = bytes[0];
    if (length > kMaxClassNameLength)
        Refuse(Format("Picture class name of %zu characters", length));
    if (1 + length > bytes.size()) Refuse("Picture data ends inside the class name");
    std::string name(reinterpret_cast<const char*>(bytes.data()) + 1, length);
    if (!IsAcceptedClass(name)) return nullptr;
    std::span<const uint8_t> rest = bytes.subspan(1 + length);
    std::unique_ptr<TGraphic> graphic = NewGraphic(name);
    std::span<const uint8_t> data;
    if (name == "TBitmap") {
        data = SizedData(name, rest, false);
        if (!data.empty() && (data.size() < 2 || data[0] != 'B' || data[1] != 'M'))
            Refuse("Bitmap data does not start with \"BM\"");
    } else if (name == "TJPEGImage") {
        data = SizedData(name, rest, false);
    } else if (name == "TMetafile") {
        data = SizedData(name, rest, true);
    } else if (name == "TIcon") {
        data = IconData(rest);
    } else {
        data = rest; // the further classes delimit their own data
    }
    if (!data.empty()) graphic->LoadFromBytes(data);
    return graphic;
}

std::vector<uint8_t> WritePersistedGraphic(const TGraphic* graphic) {
    if (!graphic) return {0};
    std::string name = graphic->ClassName();
    if (name.size() > kMaxClassNameLength) name.resize(kMaxClassNameLength);
    std::vector<uint8_t> out;
    out.push_back(static_cast<uint8_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    // An empty bitmap has no file image: size 0 reads back as an empty bitmap.
    std::vector<uint8_t> data;
    if (!(name == "TBitmap" && graphic->Empty())) data = graphic->SaveToBytes();
    if (name == "TBitmap" || name == "TJPEGImage")
        AppendLE32(out, static_cast<uint32_t>(data.size()));
    else if (name == "TMetafile")
        AppendLE32(out, static_cast<uint32_t>(data.size() + 4));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::string ExpandProgramPath(const std::string& fileName) {
    std::string name = fileName;
    for (char& c : name) // documents made on the original platform separate with "\"
        if (c == '\\') c = '/';
    std::filesystem::path path(name);
    if (path.is_absolute()) return path.lexically_normal().string();
    return (std::filesystem::path(ProgramFolder()) / path).lexically_normal().string();
}

std::unique_ptr<TGraphic> LoadGraphicFile(const std::string& fileName) {
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(fileName, error);
    if (error || !std::filesystem::is_regular_file(status))
        throw EFOpenError("Cannot open picture file " + fileName + ": not a regular file");
    uintmax_t size = std::filesystem::file_size(fileName, error);
    if (error || size > kMaxPictureFileBytes)
        Refuse("Picture file " + fileName + " is larger than 64 MiB");
    std::string extension = LowerCase(std::filesystem::path(fileName).extension().string());
    std::string className;
    if (extension == ".bmp" || extension == ".dib")
        className = "TBitmap";
    else if (extension == ".jpg" || extension == ".jpeg" || extension == ".jpe")
        className = "TJPEGImage";
    else if (extension == ".ico")
        className = "TIcon";
    else if (extension == ".emf" || extension == ".wmf")
        className = "TMetafile";
    else
        Refuse("Picture file " + fileName + " is of no known picture type");
    TFileStream file(fileName, fmOpenRead);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    file.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    std::unique_ptr<TGraphic> graphic = NewGraphic(className);
    graphic->LoadFromBytes(bytes);
    return graphic;
}

// --- TPictureProp ---

TPictureProp::TPictureProp(TPropList* list, const std::string& name, uint8_t style)
    : TCustomProp(list, name, pkComplex, style) {}

TPictureProp::~TPictureProp() = default;

const std::vector<TSubPropInfo>& TPictureProp::Published() const {
    using T = TSubPropType;
    static const std::vector<TSubPropInfo> table = {
        {"Graphic", T::Data, nullptr, false, 0},      {"Columns", T::Integer, nullptr, true, 1},
        {"Rows", T::Integer, nullptr, true, 1},       {"Masked", T::Boolean, nullptr, true, 0},
        {"MaskColor", T::Integer, nullptr, true, 0},  {"LinkName", T::String, nullptr, false, 0},
        {"FastBuffer", T::Boolean, nullptr, true, 0},
    };
    return table;
}

bool TPictureProp::IsBitmap() const {
    if (FGraphic) return dynamic_cast<const TBitmap*>(FGraphic.get()) != nullptr;
    return !FEncoded.empty() && FEncodedIsBitmap;
}

TSize TPictureProp::PictureSize() const {
    if (FGraphic) return TSize(FGraphic->Width(), FGraphic->Height());
    return FEncoded.empty() ? TSize() : FEncodedSize;
}

bool TPictureProp::Empty() const {
    TSize size = PictureSize();
    return size.Width <= 0 || size.Height <= 0;
}

bool TPictureProp::Masked() const {
    return FGraphic ? FGraphic->Transparent() : FMasked;
}

TColor TPictureProp::MaskColor() const {
    if (auto* bitmap = dynamic_cast<const TBitmap*>(FGraphic.get()))
        return bitmap->Empty() ? FMaskColor : bitmap->TransparentColor();
    return FMaskColor;
}

bool TPictureProp::FramesAllowed() const {
    return IsBitmap() || FFastBuffer;
}

void TPictureProp::Install(std::unique_ptr<TGraphic> graphic) {
    FEncoded.clear();
    FGraphic = std::move(graphic);
    if (!FGraphic) return;
    FMasked = FGraphic->Transparent();
    if (auto* bitmap = dynamic_cast<const TBitmap*>(FGraphic.get())) {
        if (!bitmap->Empty()) FMaskColor = bitmap->TransparentColor();
    } else {
        FColumns = FRows = 1;
    }
}

void TPictureProp::Failed(const std::exception_ptr& failure) {
    if (!failure) return;
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& e) {
        if (!OnLoadError) throw;
        OnLoadError(*this, e);
    }
}

void TPictureProp::SetGraphic(const TGraphic* graphic) {
    if ((!graphic && !HasPicture()) || IsReadOnly()) return;
    DoBeforeChanged();
    Install(graphic ? graphic->Clone() : nullptr);
    DoChanged();
}

std::unique_ptr<TGraphic> TPictureProp::DecodedCopy() const {
    if (FGraphic) return FGraphic->Clone();
    if (FEncoded.empty()) return nullptr;
    std::unique_ptr<TGraphic> graphic = ReadPersistedGraphic(FEncoded);
    if (graphic) {
        graphic->SetTransparent(FMasked);
        if (auto* bitmap = dynamic_cast<TBitmap*>(graphic.get()))
            bitmap->SetTransparentColor(FMaskColor);
    }
    return graphic;
}

void TPictureProp::KeepEncodedOnly() {
    // A fast-buffered picture keeps its pixels: that is what the buffer is for.
    if (!FGraphic || FFastBuffer) return;
    FMasked = Masked();
    FMaskColor = MaskColor();
    FEncodedSize = PictureSize();
    FEncodedIsBitmap = IsBitmap();
    FEncoded = WritePersistedGraphic(FGraphic.get());
    FGraphic.reset();
}

TSize TPictureProp::GetFrameSize() const {
    if (!HasPicture()) return TSize();
    TSize size = PictureSize();
    if (!FramesAllowed()) return size;
    return TSize(size.Width / FColumns, size.Height / FRows);
}

TRect TPictureProp::GetFrameRect(int32_t frameIndex) const {
    if (!HasPicture()) return TRect();
    TSize size = PictureSize();
    TRect whole(0, 0, size.Width, size.Height);
    if (!FramesAllowed() || frameIndex < 0 || frameIndex / FColumns >= FRows) return whole;
    TSize frame = GetFrameSize();
    int32_t column = frameIndex % FColumns, row = frameIndex / FColumns;
    return TRect(column * frame.Width, row * frame.Height, (column + 1) * frame.Width,
                 (row + 1) * frame.Height);
}

namespace {

// The pixels of a transparent bitmap that are not its transparent colour, scaled onto rect.
TRegion MaskRegion(const TBitmap& bitmap, const TRect& rect) {
    uint32_t key = ColorToPixel(bitmap.TransparentColor()) & 0xFFFFFF;
    TRegionBuilder builder;
    std::vector<int32_t> spans;
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        const uint32_t* row = bitmap.ScanLine(y);
        spans.clear();
        for (int32_t x = 0; x < bitmap.Width();) {
            if ((row[x] & 0xFFFFFF) == key) {
                ++x;
                continue;
            }
            int32_t start = x;
            while (x < bitmap.Width() && (row[x] & 0xFFFFFF) != key)
                ++x;
            spans.push_back(start);
            spans.push_back(x);
        }
        if (!spans.empty()) builder.AddRow(y, spans);
    }
    return builder.Finish().Transformed(double(rect.Width()) / bitmap.Width(),
                                        double(rect.Height()) / bitmap.Height(), rect.Left,
                                        rect.Top);
}

} // namespace

void TPictureProp::Draw(TCanvas& canvas, const TRect& rect, bool useMask, int32_t frameIndex) {
    if (rect.IsEmpty() || !HasPicture()) return;
    std::unique_ptr<TGraphic> decoded;
    const TGraphic* graphic = FGraphic.get();
    if (!graphic) {
        try {
            decoded = DecodedCopy();
        } catch (const Exception&) {
            return; // it decoded when it was read; what fails now draws nothing
        }
        graphic = decoded.get();
    }
    if (!graphic || graphic->Empty()) return;
    std::unique_ptr<TBitmap> frame;
    if (!(FColumns <= 1 && FRows <= 1) && frameIndex >= 0) {
        auto* bitmap = dynamic_cast<const TBitmap*>(graphic);
        if (!bitmap) return;
        TRect cell = GetFrameRect(frameIndex);
        if (cell.IsEmpty()) return;
        frame = std::make_unique<TBitmap>(cell.Width(), cell.Height(), bitmap->PixelFormat());
        for (int32_t y = 0; y < cell.Height(); ++y) {
            const uint32_t* source = bitmap->ScanLine(cell.Top + y) + cell.Left;
            std::copy(source, source + cell.Width(), frame->ScanLine(y));
        }
        frame->SetTransparent(bitmap->Transparent());
        frame->SetTransparentColor(bitmap->TransparentColor());
        graphic = frame.get();
    }
    int saved = canvas.SaveState();
    canvas.IntersectClipRect(rect);
    if (useMask)
        if (auto* bitmap = dynamic_cast<const TBitmap*>(graphic); bitmap && bitmap->Transparent())
            canvas.CombineClipRegion(MaskRegion(*bitmap, rect), roAnd);
    canvas.StretchDraw(rect, *graphic);
    canvas.RestoreState(saved);
}

int64_t TPictureProp::GetOrdinal(int index) const {
    switch (index) {
    case kColumns: return FColumns;
    case kRows: return FRows;
    case kMasked: return Masked();
    case kMaskColor: return MaskColor();
    case kFastBuffer: return FFastBuffer;
    default: return 0;
    }
}

void TPictureProp::StoreOrdinal(int index, int64_t value) {
    switch (index) {
    case kColumns: FColumns = static_cast<int32_t>(value); break;
    case kRows: FRows = static_cast<int32_t>(value); break;
    case kMasked:
        FMasked = value != 0;
        if (FGraphic) FGraphic->SetTransparent(FMasked);
        break;
    case kMaskColor:
        FMaskColor = static_cast<TColor>(value);
        if (auto* bitmap = dynamic_cast<TBitmap*>(FGraphic.get()))
            bitmap->SetTransparentColor(FMaskColor);
        break;
    case kFastBuffer: FFastBuffer = value != 0; break;
    default: break;
    }
}

std::string TPictureProp::GetString(int index) const {
    return index == kLinkName ? FLinkName : std::string();
}

void TPictureProp::StoreString(int index, const std::string& value) {
    if (index == kLinkName) FLinkName = value;
}

TVariant TPictureProp::GetData(int index) {
    if (index != kGraphic) return TVariant();
    if (!FEncoded.empty()) return TVariant::Bytes(FEncoded);
    return TVariant::Bytes(WritePersistedGraphic(FGraphic.get()));
}

void TPictureProp::SetData(int index, const TVariant& value) {
    if (index != kGraphic || !FLinkName.empty()) return; // a linked picture comes from its file
    const std::vector<uint8_t>& bytes = value.ByteArray();
    if (bytes.empty() || bytes[0] == 0) {
        SetGraphic(nullptr);
        return;
    }
    if (GetData(kGraphic).ByteArray() == bytes || IsReadOnly()) return;
    std::unique_ptr<TGraphic> graphic;
    std::exception_ptr failure;
    try {
        graphic = ReadPersistedGraphic(bytes);
    } catch (const Exception&) {
        failure = std::current_exception();
    }
    DoBeforeChanged();
    Install(std::move(graphic));
    DoChanged();
    Failed(failure);
}

void TPictureProp::SetPublished(int index, const TVariant& value) {
    switch (index) {
    case kColumns:
    case kRows: {
        int32_t count = value.IsString() ? StrToInt(Trim(value.AsString())) : value.AsInteger();
        // While a document is read FastBuffer (written after the grid) may not be set yet.
        TPropList* list = OwnerList();
        if (count <= 0 || (!FramesAllowed() && !(list && list->IsLoading()))) return;
        ChangeOrdinal(index, count);
        return;
    }
    case kFastBuffer:
        if (!FEncoded.empty()) return; // not available while only the encoded bytes are kept
        break;
    case kLinkName: {
        std::string name = value.AsString();
        if (name == FLinkName || IsReadOnly()) return;
        std::unique_ptr<TGraphic> graphic;
        std::exception_ptr failure;
        std::string path = name.empty() ? std::string() : ExpandProgramPath(name);
        if (!path.empty() && std::filesystem::exists(path)) { // a missing file drops the picture
            try {
                graphic = LoadGraphicFile(path);
            } catch (const Exception&) {
                failure = std::current_exception();
            }
        }
        DoBeforeChanged();
        FLinkName = name;
        if (!name.empty()) Install(std::move(graphic));
        DoChanged();
        Failed(failure);
        return;
    }
    default: break;
    }
    TCustomProp::SetPublished(index, value);
}

bool TPictureProp::IsPublishedStored(int index) {
    switch (index) {
    case kGraphic: return HasPicture() && FLinkName.empty();
    case kMaskColor: return HasPicture() || !FLinkName.empty();
    default: return true;
    }
}
