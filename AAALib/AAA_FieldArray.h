#pragma once
// Arrays of like records. The general form holds its elements by value in a
// deque; arrays of little-endian integers (allocation tables of millions of
// entries) are packed: about the on-disk size in memory, read in bulk, and
// each entry still answers as a field on demand.
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace AAA {

template <class T>
class Array : public std::deque<T>, public Element {
public:
    Array() = default;
    // Elements added by Resize are copies of `prototype` (fields need a size and name).
    explicit Array(T prototype) : prototype_(std::move(prototype)) {}

    // Grows one copy at a time: blocks are copyable but not assignable, which
    // deque::resize(count, value) would need.
    void Resize(size_t count) {
        while (this->size() > count)
            this->pop_back();
        while (this->size() < count) {
            if (prototype_)
                this->push_back(*prototype_);
            else if constexpr (std::is_default_constructible_v<T>)
                this->emplace_back();
            else
                break;
        }
        for (T& element : *this)
            element.parent = parent;
    }

    int BitLength() const override {
        int bits = 0;
        for (const T& element : *this)
            bits += element.BitLength();
        return bits;
    }
    // Elements name their enclosing block, not the array.
    void Link() override {
        for (T& element : *this) {
            element.parent = parent;
            element.Link();
        }
    }
    // The count is re-read after every element, so elements appended by a
    // notification during this read are read in the same pass.
    void Read(BitReader& reader) override {
        for (size_t i = 0; i < this->size(); ++i) {
            (*this)[i].parent = parent;
            (*this)[i].Read(reader);
        }
    }
    void Write(BitWriter& writer) override {
        for (T& element : *this)
            element.Write(writer);
    }
    void Reserved1() override {
        for (T& element : *this)
            element.Reserved1();
    }
    void Reserved2() override {
        for (T& element : *this)
            element.Reserved2();
    }
    bool IsChanged() const override {
        for (const T& element : *this)
            if (element.IsChanged())
                return true;
        return false;
    }

private:
    std::optional<T> prototype_;
};

template <>
class Array<Field::LE> : public Element {
public:
    // A view of one packed entry with the field interface.
    class EntryRef {
    public:
        EntryRef(const Array* owner, size_t index) : owner_(owner), index_(index) {}
        uint32_t Value() const { return owner_->Value(index_); }
        uint64_t Value64() const { return owner_->Value64(index_); }
        std::string ToString() const { return Materialize().ToString(); }
        std::string FullName() const { return Materialize().FullName(); }
        void Dump(const char* prefix) const { Materialize().Dump(prefix); }
        Field::LE Materialize() const { return owner_->Entry(index_); }

    private:
        const Array* owner_;
        size_t index_;
    };

    Array(int entryBits, std::string entryName);

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    void Resize(size_t count);
    void resize(size_t count) { Resize(count); }

    uint32_t Value(size_t index) const { return static_cast<uint32_t>(Value64(index)); }
    uint64_t Value64(size_t index) const {
        const uint8_t* p = storage_.data() + index * stride_;
        uint64_t value = 0;
        for (size_t i = stride_; i-- > 0;)
            value = (value << 8) | p[i];
        return value;
    }
    void SetValue(size_t index, uint64_t value);

    EntryRef operator[](size_t index) const { return EntryRef(this, index); }
    // The entry as a standalone field: name, kind, bytes and read position.
    Field::LE Entry(size_t index) const;

    int EntryBits() const { return entryBits_; }
    size_t MemoryBytes() const { return storage_.capacity(); }

    int BitLength() const override { return static_cast<int>(count_ * static_cast<size_t>(entryBits_)); }
    void Read(BitReader& reader) override;
    void Write(BitWriter& writer) override;
    bool IsChanged() const override { return changed_; }

private:
    void ReadEntryByEntry(BitReader& reader);
    void DumpAll() const;

    int entryBits_;
    size_t stride_;
    std::string entryName_;
    size_t count_ = 0;
    std::vector<uint8_t> storage_; // each entry's value, little-endian, stride_ bytes
    int64_t readStart_ = -1;
    bool changed_ = false;
};

} // namespace AAA
