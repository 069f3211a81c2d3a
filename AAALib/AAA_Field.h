#pragma once
// The record model: on-disk structures are declared as trees of named, typed
// fields. Each field keeps its bytes (most significant first), a snapshot from
// its last read and where it was read, and can check itself, writing a precise
// report to the log before the caller raises InvalidDataException.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "AAA_BitReader.h"
#include "AAA_BitWriter.h"
#include "AAA_WideString.h"

namespace AAA {

class Element {
public:
    explicit Element(std::string elementName = {}) : name(std::move(elementName)) {}
    virtual ~Element() = default;

    virtual int BitLength() const = 0;
    virtual void Link() {}
    virtual void Read(BitReader& reader) = 0;
    virtual void Write(BitWriter& writer) = 0;
    virtual void Reserved1() {}
    virtual void Reserved2() {}
    virtual bool IsChanged() const = 0;

    // Dotted name from the outermost enclosing element down to this one.
    std::string FullName() const;

    Element* parent = nullptr;
    std::string name;
};

using Notification = void (*)(void* context);

class FieldBase : public Element {
public:
    FieldBase(int bits, std::string fieldName, const char* fieldKind);
    FieldBase(const FieldBase& other) = default;
    // Copies the bytes and the notification context; keeps this field's own
    // notification function, name and parent, then notifies.
    FieldBase& operator=(const FieldBase& other);

    int BitLength() const override { return bitLength_; }
    void Read(BitReader& reader) override;
    void Write(BitWriter& writer) override;
    bool IsChanged() const override;

    virtual void SetBitLength(int bits);
    virtual std::string ToString() const;
    virtual uint32_t Value() const;
    virtual void SetBytes(const uint8_t* bytes, int count);
    virtual void SetValue(uint64_t value);
    virtual bool Compare(const FieldBase& expected, const char* expectedText, const char* file, int line) const;
    virtual bool CompareValue(uint64_t expected, const char* expectedText, const char* file, int line) const;
    virtual void ReportExpected(const FieldBase& expected, const char* expectedText) const;
    virtual void ReportActual() const;
    virtual void Dump(const char* prefix) const;

    // The full value of a field of up to 8 bytes (Value() keeps only 32 bits).
    uint64_t Value64() const;

    bool Equal(const void* bytes, const char* expectedText = nullptr, const char* file = nullptr, int line = 0) const;
    void Expect(const void* bytes, const char* expectedText, const char* file, int line) const;
    void ExpectTrue(bool condition, const char* conditionText, const char* file, int line) const;
    void ReportHeader(const char* file, int line) const;

    void SetNotification(void* context, Notification function);
    // Loads bytes as a read would leave them, without notifying or dumping
    // (packed arrays hand out their entries this way).
    void AssignRead(const uint8_t* bytes, size_t count, int64_t position);

    const std::vector<uint8_t>& Data() const { return data_; }
    const std::vector<uint8_t>& Snapshot() const { return snapshot_; }
    const char* Kind() const { return kind_; }
    int64_t Position() const { return position_; }

protected:
    void Notify() const;
    // Stores freshly read bytes: snapshot, notification and dump follow.
    void FinishRead();

    std::vector<uint8_t> data_;
    std::vector<uint8_t> snapshot_;
    int32_t bitLength_;
    const char* kind_;
    int64_t position_ = -1;
    void* notificationContext_ = nullptr;
    Notification notification_ = nullptr;
};

namespace Field {

class LE : public FieldBase {
public:
    LE(int bits, std::string fieldName) : FieldBase(bits, std::move(fieldName), "LE") {}
    // Integers are held most significant byte first whatever the disk order.
    void Read(BitReader& reader) override;
};

class BE : public FieldBase {
public:
    BE(int bits, std::string fieldName) : FieldBase(bits, std::move(fieldName), "BE") {}
};

class Str : public FieldBase {
public:
    Str(int bits, std::string fieldName) : FieldBase(bits, std::move(fieldName), "Str") {}
};

class Utf16 : public FieldBase {
public:
    Utf16(int bits, std::string fieldName) : FieldBase(bits, std::move(fieldName), "Utf16") {}
    WString ToWideString() const;
};

} // namespace Field

// A structure: members are data members of the concrete block; Link() of the
// concrete block lists them in read order through SetMembers, then calls Block::Link().
class Block : public Element {
public:
    explicit Block(std::string blockName) : Element(std::move(blockName)) {}
    // A copy lists its own members again on first use.
    Block(const Block& other) : Element(other) {}
    Block& operator=(const Block&) = delete;

    int BitLength() const override;
    void Link() override;
    void Read(BitReader& reader) override;
    void Write(BitWriter& writer) override;
    void Reserved1() override;
    void Reserved2() override;
    bool IsChanged() const override;

protected:
    void SetMembers(std::initializer_list<Element*> members);
    void SetMembers(std::vector<Element*> members);
    const std::vector<Element*>& Members() const;

private:
    std::vector<Element*> members_;
};

// Reads `record` at byte `offset` of `stream`: how every on-disk record is read,
// from a device or from memory alike.
void ReadRecordAt(Stream& stream, uint64_t offset, Element& record);

} // namespace AAA

#include "AAA_FieldArray.h"
