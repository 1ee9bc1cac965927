#include "QelClasses.h"

#include <limits>
#include <new>

namespace {

// Smallest size code for a header field: 0 absent, 1, 2 or 4 bytes.
unsigned SizeCode(uint32_t v) {
    if (v == 0) return 0;
    if (v <= 0xFF) return 1;
    if (v <= 0xFFFF) return 2;
    return 3;
}

constexpr size_t kFieldBytes[4] = {0, 1, 2, 4};

void PutLE(std::vector<uint8_t>& out, uint32_t v, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

uint32_t GetLE(const uint8_t* p, size_t bytes) {
    uint32_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}

void PutGuid(uint8_t* out, const TQelGuid& g) {
    for (size_t i = 0; i < 4; ++i) out[i] = uint8_t(g.Data1 >> (8 * i));
    out[4] = uint8_t(g.Data2);
    out[5] = uint8_t(g.Data2 >> 8);
    out[6] = uint8_t(g.Data3);
    out[7] = uint8_t(g.Data3 >> 8);
    std::memcpy(out + 8, g.Data4, 8);
}

TQelGuid GetGuid(const uint8_t* p) {
    TQelGuid g;
    g.Data1 = GetLE(p, 4);
    g.Data2 = uint16_t(GetLE(p + 4, 2));
    g.Data3 = uint16_t(GetLE(p + 6, 2));
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}

}  // namespace

// ---------------------------------------------------------------------------
// Writer

void TQelMemoryOutputStream::Write(const uint8_t* data, size_t size) {
    if (size) FBytes.insert(FBytes.end(), data, data + size);
}

TQelSDFWriter::TQelSDFWriter(TQelOutputStream* stream, bool ownership) : FStream(stream), FOwnership(ownership) {}

TQelSDFWriter::~TQelSDFWriter() {
    if (FOwnership) delete FStream;
}

void TQelSDFWriter::WriteRecord(unsigned kind, uint32_t id, uint32_t dataType, const void* data, size_t size) {
    if (!FStream) return;
    if (size > std::numeric_limits<uint32_t>::max()) throw EQelOutOfMemory("Data too large for a settings record");
    uint32_t length = uint32_t(size);
    unsigned ci = SizeCode(id), ct = SizeCode(dataType), cl = SizeCode(length);
    std::vector<uint8_t> rec;
    rec.reserve(13 + size);
    rec.push_back(uint8_t(kind << 6 | ci << 4 | ct << 2 | cl));
    PutLE(rec, id, kFieldBytes[ci]);
    PutLE(rec, dataType, kFieldBytes[ct]);
    PutLE(rec, length, kFieldBytes[cl]);
    if (size) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        rec.insert(rec.end(), bytes, bytes + size);
    }
    FStream->Write(rec.data(), rec.size());
}

void TQelSDFWriter::BeginNode(uint32_t id, const TQelGuid& guid) {
    uint8_t bytes[16];
    PutGuid(bytes, guid);
    WriteRecord(3, id, QelSDFGuid, bytes, sizeof bytes);
}

void TQelSDFWriter::BeginNodeInt(uint32_t id, int32_t value) {
    uint8_t bytes[4];
    for (size_t i = 0; i < 4; ++i) bytes[i] = uint8_t(uint32_t(value) >> (8 * i));
    WriteRecord(3, id, QelSDFInt32, bytes, sizeof bytes);
}

void TQelSDFWriter::EndNode() {
    if (!FStream) return;
    const uint8_t zero = 0;
    FStream->Write(&zero, 1);
}

void TQelSDFWriter::WriteBoolean(uint32_t id, bool value) {
    const uint8_t byte = value ? 1 : 0;
    WriteRecord(1, id, QelSDFInt8, &byte, 1);
}

void TQelSDFWriter::WriteInteger(uint32_t id, int32_t value) {
    uint8_t bytes[4];
    for (size_t i = 0; i < 4; ++i) bytes[i] = uint8_t(uint32_t(value) >> (8 * i));
    WriteRecord(1, id, QelSDFInt32, bytes, sizeof bytes);
}

void TQelSDFWriter::WriteWideString(uint32_t id, std::u16string_view text) {
    if (!FStream) return;
    if (text.size() > std::numeric_limits<uint32_t>::max() / 2) throw EQelOutOfMemory("Text too long for a settings record");
    std::vector<uint8_t> bytes(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = uint8_t(text[i]);
        bytes[2 * i + 1] = uint8_t(text[i] >> 8);
    }
    WriteRecord(1, id, QelSDFWideText, bytes.data(), bytes.size());
}

void TQelSDFWriter::WriteData(uint32_t id, const void* data, size_t size) {
    WriteRecord(1, id, QelSDFData, data, size);
}

// ---------------------------------------------------------------------------
// Reader

TQelSDFReader::TQelSDFReader() = default;

TQelSDFReader::TQelSDFReader(std::vector<uint8_t> stream) : FStream(std::move(stream)) { Parse(); }

TQelSDFReader::TQelSDFReader(const void* data, size_t size) {
    if (data && size) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        FStream.assign(bytes, bytes + size);
    }
    Parse();
}

// One pass over the bytes. The tree is kept in two flat tables linked by
// index, so nesting of any depth costs neither stack nor per-level storage.
// Skipping data is offset arithmetic: an element whose Length runs past the
// end is kept, and parsing stops at the next header, which cannot be read.
void TQelSDFReader::Parse() {
    const uint64_t size = FStream.size();
    uint64_t pos = 0;
    uint32_t current = QelSDFNone;
    try {
        while (pos < size) {
            const uint8_t h = FStream[size_t(pos)];
            const unsigned kind = h >> 6;
            const size_t ni = kFieldBytes[(h >> 4) & 3], nt = kFieldBytes[(h >> 2) & 3], nl = kFieldBytes[h & 3];
            uint64_t q = pos + 1;
            if (q + ni + nt + nl > size) break;  // stream ends inside the header
            const uint8_t* p = FStream.data() + q;
            TQelSDFElement rec;
            rec.Id = GetLE(p, ni);
            rec.DataType = GetLE(p + ni, nt);
            rec.Length = GetLE(p + ni + nt, nl);
            q += ni + nt + nl;
            if (kind == 0) {
                if (current == QelSDFNone) break;
                current = FNodes[current].Parent;
                pos = q;
                continue;
            }
            rec.Position = q;
            if (kind == 1) {
                if (FElements.size() >= QelSDFNone) break;
                const uint32_t index = uint32_t(FElements.size());
                FElements.push_back(rec);
                TQelSDFItems& items = ItemsOf(current);
                if (items.LastElement == QelSDFNone) items.FirstElement = index;
                else FElements[items.LastElement].Next = index;
                items.LastElement = index;
            } else {
                if (FNodes.size() >= QelSDFNone) break;
                const uint32_t index = uint32_t(FNodes.size());
                TQelSDFNode node;
                static_cast<TQelSDFElement&>(node) = rec;
                node.Parent = current;
                FNodes.push_back(node);
                TQelSDFItems& items = ItemsOf(current);  // after push_back, which may move FNodes
                if (items.LastNode == QelSDFNone) items.FirstNode = index;
                else FNodes[items.LastNode].Next = index;
                items.LastNode = index;
                current = index;
            }
            pos = q + rec.Length;
        }
    } catch (const std::bad_alloc&) {
        // Out of memory on a huge damaged stream: keep what was parsed.
    }
    FCurrent = QelSDFNone;
}

const TQelSDFItems& TQelSDFReader::CurrentItems() const {
    return FCurrent == QelSDFNone ? FRoot : FNodes[FCurrent].Items;
}

const TQelSDFNode* TQelSDFReader::CurrentNode() const {
    return FCurrent == QelSDFNone ? nullptr : &FNodes[FCurrent];
}

bool TQelSDFReader::OpenNode(uint32_t id, const TQelGuid& guid) {
    for (uint32_t i = CurrentItems().FirstNode; i != QelSDFNone; i = FNodes[i].Next) {
        const TQelSDFNode& n = FNodes[i];
        if (n.Id != id || n.DataType != QelSDFGuid || n.Length != 16) continue;
        const uint8_t* p = DataOf(n);
        if (p && GetGuid(p) == guid) {
            FCurrent = i;
            return true;
        }
    }
    return false;
}

bool TQelSDFReader::OpenNodeById(uint32_t id) {
    for (uint32_t i = CurrentItems().FirstNode; i != QelSDFNone; i = FNodes[i].Next) {
        if (FNodes[i].Id == id) {
            FCurrent = i;
            return true;
        }
    }
    return false;
}

void TQelSDFReader::CloseNode() {
    if (FCurrent != QelSDFNone) FCurrent = FNodes[FCurrent].Parent;
}

const TQelSDFElement* TQelSDFReader::Find(uint32_t id) const {
    if (id == 0) return CurrentNode();
    for (uint32_t i = CurrentItems().FirstElement; i != QelSDFNone; i = FElements[i].Next)
        if (FElements[i].Id == id) return &FElements[i];
    return nullptr;
}

// The element's data, or nullptr when it is not wholly inside the stream.
const uint8_t* TQelSDFReader::DataOf(const TQelSDFElement& e) const {
    if (e.Position > FStream.size() || FStream.size() - e.Position < e.Length) return nullptr;
    return FStream.data() + e.Position;
}

// The integer of an element of one of the integer types with its exact
// length and all its bytes in the stream; false for anything else.
bool TQelSDFReader::IntegerOf(const TQelSDFElement& e, int32_t& value) const {
    const uint8_t* p = DataOf(e);
    if (!p) return false;
    switch (e.DataType) {
        case QelSDFInt32:
            if (e.Length != 4) return false;
            value = int32_t(GetLE(p, 4));
            return true;
        case QelSDFInt8:
            if (e.Length != 1) return false;
            value = int8_t(p[0]);
            return true;
        case QelSDFUInt8:
            if (e.Length != 1) return false;
            value = p[0];
            return true;
        case QelSDFInt16:
            if (e.Length != 2) return false;
            value = int16_t(GetLE(p, 2));
            return true;
        case QelSDFUInt16:
            if (e.Length != 2) return false;
            value = int32_t(GetLE(p, 2));
            return true;
        default:
            return false;
    }
}

bool TQelSDFReader::ReadInteger(uint32_t id, int32_t& value) const {
    const TQelSDFElement* e = Find(id);
    if (!e) return false;
    IntegerOf(*e, value);
    return true;
}

bool TQelSDFReader::ReadBoolean(uint32_t id, bool& value) const {
    const TQelSDFElement* e = Find(id);
    if (!e) return false;
    int32_t i = 0;
    if (IntegerOf(*e, i)) value = i != 0;
    return true;
}

bool TQelSDFReader::ReadWideString(uint32_t id, std::u16string& value) const {
    const TQelSDFElement* e = Find(id);
    if (!e) return false;
    if (e->DataType != QelSDFWideText) return true;
    const uint8_t* p = DataOf(*e);
    if (!p) return true;  // never size a string from a Length the stream cannot back
    std::u16string s(e->Length / 2, u'\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = char16_t(p[2 * i] | (p[2 * i + 1] << 8));
    value = std::move(s);
    return true;
}

bool TQelSDFReader::ReadData(uint32_t id, void* buffer, size_t size) const {
    const TQelSDFElement* e = Find(id);
    if (!e || e->Length != size) return false;
    const uint8_t* p = DataOf(*e);
    if (!p) return false;
    if (size) std::memcpy(buffer, p, size);
    return true;
}

// ---------------------------------------------------------------------------
// Property bags

void TQelCustomProperties::FreeValue(TQelPropertyValue&) {}

void TQelCustomProperties::SetValue(uint32_t id, uint32_t dataType, const void* data, uint32_t size) {
    // Copy first: Data may point into the value being replaced, and a failed
    // allocation must leave the old value intact.
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        throw EQelOutOfMemory("Not enough memory for a property value of " + std::to_string(size) + " bytes");
    }
    if (data && size) std::memcpy(bytes.data(), data, size);
    const int index = IndexOf(id);
    TQelPropertyValue* v;
    if (index >= 0) {
        v = &FItems[size_t(index)];
        FreeValue(*v);
    } else {
        FItems.emplace_back();
        v = &FItems.back();
    }
    v->Id = id;
    v->Size = size;
    v->DataType = dataType;
    v->Data = std::move(bytes);
    v->Interface.reset();
}

void TQelCustomProperties::SetInteger(uint32_t id, int32_t value) { SetValue(id, QelPropInteger, &value, 4); }

void TQelCustomProperties::SetDouble(uint32_t id, double value) { SetValue(id, QelPropDouble, &value, 8); }

void TQelCustomProperties::SetString(uint32_t id, std::string_view value) {
    if (value.size() > std::numeric_limits<uint32_t>::max()) throw EQelOutOfMemory("Text too long for a property value");
    SetValue(id, QelPropString, value.data(), uint32_t(value.size()));
}

void TQelCustomProperties::Remove(uint32_t id) {
    const int index = IndexOf(id);
    if (index < 0) return;
    FreeValue(FItems[size_t(index)]);
    FItems.erase(FItems.begin() + index);
}

void TQelCustomProperties::Clear() {
    for (auto& v : FItems) FreeValue(v);
    FItems.clear();
    FItems.shrink_to_fit();
}

const TQelPropertyValue* TQelCustomProperties::Items(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return &FItems[size_t(index)];
}

int TQelCustomProperties::IndexOf(uint32_t id) const {
    for (int i = Count() - 1; i >= 0; --i)
        if (FItems[size_t(i)].Id == id) return i;
    return -1;
}

TQelVariant TQelCustomProperties::GetValue(int index) const {
    const TQelPropertyValue* v = Items(index);
    if (!v) return {};
    switch (v->DataType) {
        case QelPropInteger:
            if (v->Size >= 4) {
                int32_t i;
                std::memcpy(&i, v->Data.data(), 4);
                return i;
            }
            break;
        case QelPropDouble:
            if (v->Size >= 8) {
                double d;
                std::memcpy(&d, v->Data.data(), 8);
                return d;
            }
            break;
        case QelPropString:
            return std::string(reinterpret_cast<const char*>(v->Data.data()), v->Size);
        default:
            break;
    }
    return {};
}

void TQelCustomProperties::Assign(const TQelCustomProperties* source) {
    if (source == this) return;  // clearing first would lose every value
    Clear();
    if (!source) return;
    for (const auto& v : source->FItems) {
        SetValue(v.Id, v.DataType, v.Data.data(), v.Size);
        if (v.DataType == QelPropInterface) FItems.back().Interface = v.Interface;
    }
}

void TQelProperties::FreeValue(TQelPropertyValue& value) {
    if (value.DataType == QelPropInterface) value.Interface.reset();
}

void TQelProperties::SetInterface(uint32_t id, std::shared_ptr<IQelInterface> value) {
    SetValue(id, QelPropInterface, nullptr, 0);
    FItems[size_t(IndexOf(id))].Interface = std::move(value);
}

// ---------------------------------------------------------------------------
// Point list

int TQelPointList::Add(const TQelPoint& point) {
    FItems.push_back(point);
    return Count() - 1;
}

TQelPoint TQelPointList::GetPoint(int index) const {
    if (index < 0 || index >= Count()) throw EQelProgramError("Point index out of bounds (" + std::to_string(index) + ")");
    return FItems[size_t(index)];
}

void TQelPointList::Delete(int index) {
    if (index < 0 || index >= Count()) throw EQelProgramError("Point index out of bounds (" + std::to_string(index) + ")");
    FItems.erase(FItems.begin() + index);
}

// ---------------------------------------------------------------------------
// Undo history

TQelCommandHistoryList::~TQelCommandHistoryList() { TruncateTo(0); }

void TQelCommandHistoryList::TruncateTo(size_t count) {
    while (FCommands.size() > count) FCommands.pop_back();
}

void TQelCommandHistoryList::Add(std::unique_ptr<TQelCommandState> command) {
    if (!command) throw EQelProgramError("No command to add to the history");
    FCommands.reserve(FIndex + 1);  // may throw before anything is freed
    TruncateTo(FIndex);
    FCommands.push_back(std::move(command));
    ++FIndex;
}

void TQelCommandHistoryList::Undo() {
    if (!CanUndo()) return;
    --FIndex;
    FCommands[FIndex]->Undo();
}

void TQelCommandHistoryList::Redo() {
    if (!CanRedo()) return;
    FCommands[FIndex]->Redo();
    ++FIndex;
}

TQelCommandState* TQelCommandHistoryList::NextUndo() const {
    return CanUndo() ? FCommands[FIndex - 1].get() : nullptr;
}

TQelCommandState* TQelCommandHistoryList::NextRedo() const {
    return CanRedo() ? FCommands[FIndex].get() : nullptr;
}

TQelCommandState* TQelCommandHistoryList::Items(int index) const {
    if (index < 0 || size_t(index) >= FCommands.size()) return nullptr;
    return FCommands[size_t(index)].get();
}

// --- TQelMapMode -----------------------------------------------------------

namespace {

// floor((Value - FromOrigin) * ToExtent / FromExtent) + ToOrigin, exact in
// 64 bits; results beyond 32 bits saturate.
int32_t MapAxis(int32_t Value, int32_t FromOrigin, int32_t FromExtent, int32_t ToOrigin, int32_t ToExtent) {
    if (FromExtent == 0) return ToOrigin;
    const int64_t product = (int64_t(Value) - FromOrigin) * ToExtent;
    int64_t q = product / FromExtent;
    if ((product % FromExtent != 0) && ((product < 0) != (FromExtent < 0))) --q;
    const int64_t r = q + ToOrigin;
    if (r > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (r < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(r);
}

}  // namespace

TQelPoint TQelMapMode::LogicalToDevice(const TQelPoint& Point) const {
    return TQelPoint{MapAxis(Point.X, LogicalOrigin.X, LogicalExtent.X, DeviceOrigin.X, DeviceExtent.X),
                     MapAxis(Point.Y, LogicalOrigin.Y, LogicalExtent.Y, DeviceOrigin.Y, DeviceExtent.Y)};
}

TQelPoint TQelMapMode::DeviceToLogical(const TQelPoint& Point) const {
    return TQelPoint{MapAxis(Point.X, DeviceOrigin.X, DeviceExtent.X, LogicalOrigin.X, LogicalExtent.X),
                     MapAxis(Point.Y, DeviceOrigin.Y, DeviceExtent.Y, LogicalOrigin.Y, LogicalExtent.Y)};
}

TQelRect TQelMapMode::LogicalToDeviceRect(const TQelRect& Rect) const {
    const TQelPoint a = LogicalToDevice(TQelPoint{Rect.Left, Rect.Top});
    const TQelPoint b = LogicalToDevice(TQelPoint{Rect.Right, Rect.Bottom});
    return TQelRect(a.X, a.Y, b.X, b.Y);
}
