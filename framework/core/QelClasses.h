// Small shared classes: method pointers and their lists, the SDF tagged
// binary format (settings file), property bags, the point list and the undo
// history.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <variant>
#include <vector>

#include "QelError.h"
#include "QelGeometry.h"

// A bound parameterless method: an object and one of its member functions.
// Two methods are equal when both the object and the function are the same,
// which is what subscriber lists remove by.
class TQelMethod {
public:
    TQelMethod() = default;

    template <class T>
    TQelMethod(T* object, void (T::*fn)()) : FObject(static_cast<const void*>(object)), FType(&typeid(T)) {
        static_assert(sizeof(fn) <= sizeof(FCode), "member pointer too large");
        std::memcpy(FCode.data(), &fn, sizeof(fn));
        FCall = [object, fn]() { (object->*fn)(); };
    }

    // A method of the form (object, function) where the function is a free
    // callable; Tag identifies it for removal (tests and small adapters).
    TQelMethod(const void* object, uintptr_t tag, std::function<void()> call)
        : FObject(object), FType(&typeid(void)), FCall(std::move(call)) {
        std::memcpy(FCode.data(), &tag, sizeof(tag));
    }

    const void* Object() const { return FObject; }
    void operator()() const {
        if (FCall) FCall();
    }

    friend bool operator==(const TQelMethod& a, const TQelMethod& b) {
        return a.FObject == b.FObject && a.FCode == b.FCode &&
               (a.FType == b.FType || (a.FType && b.FType && *a.FType == *b.FType));
    }

private:
    const void* FObject = nullptr;
    const std::type_info* FType = nullptr;
    std::array<unsigned char, 2 * sizeof(void*)> FCode{};
    std::function<void()> FCall;
};

// Ordered list of method pointers: the call queue, idle handlers and every
// subscriber list use it.
class TQelMethodList {
public:
    void Add(const TQelMethod& method) { FItems.push_back(method); }
    // Deletes the last entry equal to Method; returns its index, or -1.
    int Remove(const TQelMethod& method) {
        for (int i = int(FItems.size()) - 1; i >= 0; --i) {
            if (FItems[size_t(i)] == method) {
                FItems.erase(FItems.begin() + i);
                return i;
            }
        }
        return -1;
    }
    void Delete(int index) { FItems.erase(FItems.begin() + index); }
    const TQelMethod& GetMethod(int index) const { return FItems[size_t(index)]; }
    int Count() const { return int(FItems.size()); }
    void Clear() { FItems.clear(); }

private:
    std::vector<TQelMethod> FItems;
};

// ---------------------------------------------------------------------------
// GUIDs

// A GUID in the platform layout. On disk it is Data1, Data2 and Data3
// little-endian, then the 8 bytes of Data4 in order (not RFC 4122 order).
struct TQelGuid {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};

    friend bool operator==(const TQelGuid&, const TQelGuid&) = default;

    // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits in either
    // case). Returns false and leaves Guid alone for any other text.
    static constexpr bool TryParse(std::string_view text, TQelGuid& guid) {
        if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
            text[19] != '-' || text[24] != '-')
            return false;
        auto hex = [&](size_t pos, size_t digits, uint32_t& out) {
            uint32_t v = 0;
            for (size_t i = pos; i < pos + digits; ++i) {
                char c = text[i];
                uint32_t d;
                if (c >= '0' && c <= '9') d = uint32_t(c - '0');
                else if (c >= 'a' && c <= 'f') d = uint32_t(c - 'a' + 10);
                else if (c >= 'A' && c <= 'F') d = uint32_t(c - 'A' + 10);
                else return false;
                v = (v << 4) | d;
            }
            out = v;
            return true;
        };
        TQelGuid g;
        uint32_t v = 0;
        if (!hex(1, 8, v)) return false;
        g.Data1 = v;
        if (!hex(10, 4, v)) return false;
        g.Data2 = uint16_t(v);
        if (!hex(15, 4, v)) return false;
        g.Data3 = uint16_t(v);
        constexpr size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
        for (size_t i = 0; i < 8; ++i) {
            if (!hex(bytePos[i], 2, v)) return false;
            g.Data4[i] = uint8_t(v);
        }
        guid = g;
        return true;
    }

    // As TryParse; bad text raises EQelProgramError (at compile time for constants).
    static constexpr TQelGuid Parse(std::string_view text) {
        TQelGuid g;
        if (!TryParse(text, g)) throw EQelProgramError("Invalid GUID text: " + std::string(text));
        return g;
    }
};

// ---------------------------------------------------------------------------
// SDF: the tagged binary format of the settings file and other stored trees.
//
// A stream is a flat sequence of records. Each record is a header byte
// (bits 7-6 kind: 0 end of node, 1 element, 2 or 3 node begin; bits 5-4,
// 3-2, 1-0 size codes of Id, DataType and Length: 0 absent, 1, 2 or 4
// bytes), the three fields little-endian, then Length data bytes. A node
// begin carries a payload like an element and is followed by its children up
// to an end-of-node record. The root level is the stream itself.

// Data types of SDF records.
constexpr uint32_t QelSDFInt8 = 1;     // also Booleans (0 or 1)
constexpr uint32_t QelSDFUInt8 = 2;
constexpr uint32_t QelSDFInt16 = 3;
constexpr uint32_t QelSDFUInt16 = 4;
constexpr uint32_t QelSDFInt32 = 5;
constexpr uint32_t QelSDFWideText = 12;  // UTF-16LE, Length = 2 x characters
constexpr uint32_t QelSDFGuid = 13;      // 16 bytes
constexpr uint32_t QelSDFData = 14;      // raw bytes

// Where a writer puts its records. Write appends; a failure is reported by
// throwing.
class TQelOutputStream {
public:
    virtual ~TQelOutputStream() = default;
    virtual void Write(const uint8_t* data, size_t size) = 0;
};

// An output stream that collects everything in memory (the settings file is
// written in one piece afterwards, so a failed write keeps the old file).
class TQelMemoryOutputStream : public TQelOutputStream {
public:
    void Write(const uint8_t* data, size_t size) override;
    const std::vector<uint8_t>& Bytes() const { return FBytes; }
    std::vector<uint8_t> TakeBytes() { return std::move(FBytes); }

private:
    std::vector<uint8_t> FBytes;
};

// Writes SDF records. Every call writes one complete record at the end of the
// stream; nothing is written when the writer has no stream. The writer does
// not check that nodes are balanced.
class TQelSDFWriter {
public:
    // Ownership true: the writer deletes Stream when it is destroyed.
    TQelSDFWriter(TQelOutputStream* stream, bool ownership);
    ~TQelSDFWriter();
    TQelSDFWriter(const TQelSDFWriter&) = delete;
    TQelSDFWriter& operator=(const TQelSDFWriter&) = delete;

    void BeginNode(uint32_t id, const TQelGuid& guid);
    void BeginNodeInt(uint32_t id, int32_t value);
    void EndNode();
    void WriteBoolean(uint32_t id, bool value);
    void WriteInteger(uint32_t id, int32_t value);
    void WriteWideString(uint32_t id, std::u16string_view text);
    // Data may be null only when Size is 0. Sizes above 32 bits raise EQelError.
    void WriteData(uint32_t id, const void* data, size_t size);

private:
    void WriteRecord(unsigned kind, uint32_t id, uint32_t dataType, const void* data, size_t size);

    TQelOutputStream* FStream;
    bool FOwnership;
};

// Index into a reader's record tables; QelSDFNone marks "no record".
constexpr uint32_t QelSDFNone = 0xFFFFFFFFu;

// One parsed record: its header fields and the offset of its data in the
// stream. The data may run past the end of a damaged stream; reads check.
struct TQelSDFElement {
    uint64_t Position = 0;
    uint32_t Id = 0;
    uint32_t DataType = 0;
    uint32_t Length = 0;
    uint32_t Next = QelSDFNone;  // next record of the same kind on the same level
};

// The elements and the child nodes of one level, each list in stream order.
// The lists are chains through the reader's tables, so a level costs no
// allocation of its own and no depth of nesting costs stack.
struct TQelSDFItems {
    uint32_t FirstElement = QelSDFNone;
    uint32_t LastElement = QelSDFNone;
    uint32_t FirstNode = QelSDFNone;
    uint32_t LastNode = QelSDFNone;
};

// A node: its own payload (as an element), its parent and its children.
struct TQelSDFNode : TQelSDFElement {
    uint32_t Parent = QelSDFNone;  // QelSDFNone at the root
    TQelSDFItems Items;
};

// Parses a whole SDF stream into a tree at creation and reads values on
// demand. The reader keeps its own copy of the bytes. Damaged input never
// raises: parsing stops at the first record that does not fit and keeps what
// came before; a value whose data is not wholly inside the stream reads as a
// value of the wrong type (the caller's variable stays as it was).
class TQelSDFReader {
public:
    TQelSDFReader();  // no stream: an empty root
    explicit TQelSDFReader(std::vector<uint8_t> stream);
    TQelSDFReader(const void* data, size_t size);

    // Among the child nodes of the current level, the first with this id
    // whose payload is this GUID becomes current.
    bool OpenNode(uint32_t id, const TQelGuid& guid);
    // The first child node with this id becomes current, whatever its payload.
    bool OpenNodeById(uint32_t id);
    // The parent becomes current; at the root nothing changes.
    void CloseNode();

    // Id 0 reads the current node's own payload (false at the root). A
    // missing element gives false; an element of another type or length gives
    // true and leaves Value unchanged.
    bool ReadInteger(uint32_t id, int32_t& value) const;
    bool ReadBoolean(uint32_t id, bool& value) const;
    bool ReadWideString(uint32_t id, std::u16string& value) const;
    // True only when the element exists, its Length equals Size and all its
    // bytes are in the stream; then they are copied into Buffer.
    bool ReadData(uint32_t id, void* buffer, size_t size) const;

    // The tree, for inspection.
    const TQelSDFItems& RootItems() const { return FRoot; }
    const TQelSDFItems& CurrentItems() const;
    const TQelSDFNode* CurrentNode() const;  // nullptr at the root
    const TQelSDFElement& Element(uint32_t index) const { return FElements[index]; }
    const TQelSDFNode& Node(uint32_t index) const { return FNodes[index]; }

private:
    void Parse();
    TQelSDFItems& ItemsOf(uint32_t node) { return node == QelSDFNone ? FRoot : FNodes[node].Items; }
    const TQelSDFElement* Find(uint32_t id) const;
    const uint8_t* DataOf(const TQelSDFElement& e) const;
    bool IntegerOf(const TQelSDFElement& e, int32_t& value) const;

    std::vector<uint8_t> FStream;
    std::vector<TQelSDFElement> FElements;
    std::vector<TQelSDFNode> FNodes;
    TQelSDFItems FRoot;
    uint32_t FCurrent = QelSDFNone;  // QelSDFNone: the root
};

// ---------------------------------------------------------------------------
// Property bags

// Value type codes the bags understand; other codes are stored opaquely.
constexpr uint32_t QelPropInteger = 5;     // 32-bit integer, 4 bytes
constexpr uint32_t QelPropDouble = 10;     // 64-bit floating point, 8 bytes
constexpr uint32_t QelPropString = 11;     // 8-bit text without terminator
constexpr uint32_t QelPropInterface = 16;  // counted interface reference

// A value read from a bag; std::monostate is "unassigned".
using TQelVariant = std::variant<std::monostate, int32_t, double, std::string>;

// The root of interfaces that a property bag can hold counted references to.
class IQelInterface {
public:
    virtual ~IQelInterface() = default;
};

// One value of a bag: id, type code and exactly Size bytes of data.
struct TQelPropertyValue {
    uint32_t Id = 0;
    uint32_t Size = 0;
    uint32_t DataType = 0;
    std::vector<uint8_t> Data;
    std::shared_ptr<IQelInterface> Interface;  // values of type 16 only
};

// Typed values by 32-bit id, in insertion order. Replacing a value keeps its
// position.
class TQelCustomProperties {
public:
    TQelCustomProperties() = default;
    virtual ~TQelCustomProperties() = default;
    TQelCustomProperties(const TQelCustomProperties&) = delete;
    TQelCustomProperties& operator=(const TQelCustomProperties&) = delete;

    // Clears, then copies every value of Source in order (nothing when Source
    // is null). Interface values share the reference.
    virtual void Assign(const TQelCustomProperties* source);

    // Data may be null: the value's bytes are then zero.
    void SetValue(uint32_t id, uint32_t dataType, const void* data, uint32_t size);
    void SetInteger(uint32_t id, int32_t value);
    void SetDouble(uint32_t id, double value);
    void SetString(uint32_t id, std::string_view value);
    void Remove(uint32_t id);
    void Clear();

    int Count() const { return int(FItems.size()); }
    // The value at Index, or nullptr when there is none.
    const TQelPropertyValue* Items(int index) const;
    // Searches from the last value backwards; -1 when absent.
    int IndexOf(uint32_t id) const;
    // Types 5, 10 and 11 as integer, double and text; anything else, a value
    // too short for its type, or a bad index gives an unassigned variant.
    TQelVariant GetValue(int index) const;

protected:
    // Releases what a value holds before it is freed or replaced.
    virtual void FreeValue(TQelPropertyValue& value);
    std::vector<TQelPropertyValue> FItems;
};

// A bag that can also hold counted interface references (type 16).
class TQelProperties : public TQelCustomProperties {
public:
    void SetInterface(uint32_t id, std::shared_ptr<IQelInterface> value);

protected:
    void FreeValue(TQelPropertyValue& value) override;
};

// ---------------------------------------------------------------------------
// Point list

class TQelPointList {
public:
    int Add(const TQelPoint& point);
    // Raises EQelError for an index outside the list.
    TQelPoint GetPoint(int index) const;
    int Count() const { return int(FItems.size()); }
    void Delete(int index);
    void Clear() { FItems.clear(); }

private:
    std::vector<TQelPoint> FItems;
};

// ---------------------------------------------------------------------------
// Undo history

// An undoable command.
class TQelCommandState {
public:
    virtual ~TQelCommandState() = default;
    virtual void Undo() = 0;
    virtual void Redo() = 0;
};

// All commands of a document, oldest first; Index() commands are done, the
// rest are undone and can be redone. The history owns its commands.
class TQelCommandHistoryList {
public:
    TQelCommandHistoryList() = default;
    ~TQelCommandHistoryList();
    TQelCommandHistoryList(const TQelCommandHistoryList&) = delete;
    TQelCommandHistoryList& operator=(const TQelCommandHistoryList&) = delete;

    bool CanUndo() const { return FIndex > 0; }
    bool CanRedo() const { return FIndex < FCommands.size(); }
    // Frees the undone commands (last first), then appends Command as done.
    // Command must not be null.
    void Add(std::unique_ptr<TQelCommandState> command);
    // The index moves before Undo runs and after Redo runs, so a command that
    // throws counts as undone either way.
    void Undo();
    void Redo();
    TQelCommandState* NextUndo() const;
    TQelCommandState* NextRedo() const;

    int Index() const { return int(FIndex); }
    int Count() const { return int(FCommands.size()); }
    TQelCommandState* Items(int index) const;

private:
    void TruncateTo(size_t count);

    std::vector<std::unique_ptr<TQelCommandState>> FCommands;
    size_t FIndex = 0;
};

// ---------------------------------------------------------------------------
// Map mode

// The mapping between logical (image) and device (view or printer)
// coordinates, per axis:
//   device  = floor((logical - LogicalOrigin) * DeviceExtent / LogicalExtent) + DeviceOrigin
//   logical = floor((device - DeviceOrigin) * LogicalExtent / DeviceExtent) + LogicalOrigin
// The quotient is rounded toward minus infinity. A zoom of 3:1 is
// LogicalExtent 1 and DeviceExtent 3; scrolling moves the origins.
class TQelMapMode {
public:
    TQelPoint LogicalOrigin{0, 0};
    TQelPoint LogicalExtent{1, 1};
    TQelPoint DeviceOrigin{0, 0};
    TQelPoint DeviceExtent{1, 1};

    virtual ~TQelMapMode() = default;

    // An axis whose dividing extent is 0 maps every point to the target
    // origin, so a half-set mapping cannot divide by zero.
    TQelPoint LogicalToDevice(const TQelPoint& Point) const;
    TQelPoint DeviceToLogical(const TQelPoint& Point) const;
    // Both corners mapped.
    TQelRect LogicalToDeviceRect(const TQelRect& Rect) const;
};

// The mapping the print module sets up for the printer.
class TQelHiMetric : public TQelMapMode {};
