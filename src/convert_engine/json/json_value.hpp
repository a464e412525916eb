#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "convert_engine/json/arena.hpp"
#include "convert_engine/json/compact_string.hpp"
#include "convert_engine/json/mapped_allocator.hpp"

namespace convert_engine::json {

struct JsonValue;

using JsonArray = std::vector<JsonValue, ArenaAllocator<JsonValue>>;

// A JSON object: its entries in one flat vector, kept in ascending unsigned
// byte order of the keys, each key once. Look-ups are binary
// searches. Built from entries in any order: they are sorted stably and the
// last of equal keys is kept.
class JsonObject {
public:
    using value_type = std::pair<CompactString, JsonValue>;
    using Entries = std::vector<value_type, ArenaAllocator<value_type>>;
    using iterator = Entries::iterator;
    using const_iterator = Entries::const_iterator;

    JsonObject() = default;
    JsonObject(std::initializer_list<value_type> entries);
    // Takes entries in any order, repeats allowed.
    explicit JsonObject(Entries&& entries);
    explicit JsonObject(const Entries& entries);
    // Takes entries already in the order of their keys, equal keys in the
    // order they came (as a KeyOrder places them); `equal_keys` says whether
    // any key is repeated.
    static JsonObject from_ordered(Entries&& entries, bool equal_keys);

    // Defined below JsonValue, which they need complete.
    iterator begin() noexcept;
    iterator end() noexcept;
    const_iterator begin() const noexcept;
    const_iterator end() const noexcept;
    std::size_t size() const noexcept;
    bool empty() const noexcept;

    iterator find(std::string_view key) noexcept;
    const_iterator find(std::string_view key) const noexcept;
    // The value under `key`; std::out_of_range when there is none.
    const JsonValue& at(std::string_view key) const;
    // Where the entries are held: an arena, or the heap.
    Entries::allocator_type get_allocator() const noexcept { return entries_.get_allocator(); }

    friend bool operator==(const JsonObject& a, const JsonObject& b);

private:
    // Sorts [first, last) stably by key; returns the end of the run of
    // entries that remain once the last of equal keys is kept, moved to the
    // front.
    static iterator sort_keep_last(iterator first, iterator last);
    // The same for entries already in order.
    static iterator keep_last(iterator first, iterator last);

    Entries entries_;
};

// The ascending order of `count` keys, the i-th given by key_at(keys, i),
// equal keys in the order of their indices: order[place] is the index of
// the key that goes to that place.
class KeyOrder {
public:
    using KeyAt = std::string_view (*)(const void* keys, std::size_t i);
    static constexpr std::size_t kMaxCount = 0xFFFFFFFF;

    // A record: the rank of a key above its index.
    struct Slot {
        std::uint64_t record;
        Slot() noexcept {}  // left unset: each buffer is written in full before it is read
        Slot(std::uint64_t r) noexcept : record(r) {}
        operator std::uint64_t() const noexcept { return record; }
    };
    using Records = std::vector<Slot, detail::MappedAllocator<Slot>>;
    static constexpr int kIndexBits = 32;
    static constexpr std::uint64_t kIndex = (std::uint64_t{1} << kIndexBits) - 1;

    // `count` is at most kMaxCount.
    KeyOrder(std::size_t count, KeyAt key_at, const void* keys);

    std::size_t operator[](std::size_t place) const noexcept { return sorted_[place] & kIndex; }
    bool equal_keys() const noexcept { return equal_keys_; }
    // For each index, the place of its key; the order is used up.
    Records places() &&;

private:
    Records sorted_;
    bool equal_keys_ = false;
};

// An array or object inside a JsonValue, held apart so that a value takes
// 24 bytes whatever it holds: in the arena that holds the contents' own
// storage, else on the heap. Copying copies the contents, to the heap.
template <class T>
class Boxed {
public:
    Boxed(const T& contents) : Boxed(T(contents)) {}
    Boxed(T&& contents) {
        Arena* arena = contents.get_allocator().arena();
        if (arena != nullptr) {
            held_ = ::new (arena->allocate(sizeof(T), alignof(T))) T(std::move(contents));
            in_arena_ = true;
        } else {
            held_ = new T(std::move(contents));
        }
    }
    Boxed(const Boxed& other) : held_(other.held_ != nullptr ? new T(*other) : nullptr) {}
    Boxed(Boxed&& other) noexcept : held_(std::exchange(other.held_, nullptr)), in_arena_(other.in_arena_) {}
    Boxed& operator=(const Boxed& other) {
        if (this != &other) *this = Boxed(other);
        return *this;
    }
    Boxed& operator=(Boxed&& other) noexcept {
        if (this != &other) {
            release();
            held_ = std::exchange(other.held_, nullptr);
            in_arena_ = other.in_arena_;
        }
        return *this;
    }
    ~Boxed() { release(); }

    T& operator*() noexcept { return *held_; }
    const T& operator*() const noexcept { return *held_; }
    friend bool operator==(const Boxed& a, const Boxed& b) { return *a == *b; }

private:
    void release() noexcept {
        if (held_ == nullptr) return;
        if (in_arena_) {
            held_->~T();
        } else {
            delete held_;
        }
    }

    T* held_ = nullptr;
    bool in_arena_ = false;
};

// A generic JSON value. Numbers keep the kind they were read as: unsigned
// integer, negative integer, or finite double. Copying is a deep copy.
struct JsonValue {
    using Storage = std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double,
                                 CompactString, Boxed<JsonArray>, Boxed<JsonObject>>;
    Storage value;

    JsonValue() : value(nullptr) {}
    JsonValue(std::nullptr_t) : value(nullptr) {}
    JsonValue(bool b) : value(b) {}
    JsonValue(std::uint64_t u) : value(u) {}
    JsonValue(std::int64_t i) : value(i) {}
    JsonValue(double d) : value(d) {}
    // Strings and containers are made in place, not moved in from a
    // temporary.
    JsonValue(CompactString&& s) : value(std::in_place_type<CompactString>, std::move(s)) {}
    JsonValue(const CompactString& s) : value(std::in_place_type<CompactString>, s) {}
    JsonValue(const std::string& s) : value(CompactString(s)) {}
    JsonValue(const char* s) : value(CompactString(s)) {}
    JsonValue(JsonArray&& a) : value(std::in_place_type<Boxed<JsonArray>>, std::move(a)) {}
    JsonValue(const JsonArray& a) : value(std::in_place_type<Boxed<JsonArray>>, a) {}
    JsonValue(JsonObject&& o) : value(std::in_place_type<Boxed<JsonObject>>, std::move(o)) {}
    JsonValue(const JsonObject& o) : value(std::in_place_type<Boxed<JsonObject>>, o) {}

    bool is_null() const noexcept { return std::holds_alternative<std::nullptr_t>(value); }
    bool is_string() const noexcept { return std::holds_alternative<CompactString>(value); }
    bool is_u64() const noexcept { return std::holds_alternative<std::uint64_t>(value); }
    const CompactString* as_string() const noexcept { return std::get_if<CompactString>(&value); }
    const JsonArray* as_array() const noexcept { return unboxed<JsonArray>(); }
    JsonArray* as_array() noexcept { return unboxed<JsonArray>(); }
    const JsonObject* as_object() const noexcept { return unboxed<JsonObject>(); }
    JsonObject* as_object() noexcept { return unboxed<JsonObject>(); }

    friend bool operator==(const JsonValue&, const JsonValue&) = default;

private:
    template <class T>
    T* unboxed() noexcept {
        auto* box = std::get_if<Boxed<T>>(&value);
        return box != nullptr ? &**box : nullptr;
    }
    template <class T>
    const T* unboxed() const noexcept {
        const auto* box = std::get_if<Boxed<T>>(&value);
        return box != nullptr ? &**box : nullptr;
    }
};

inline JsonObject::iterator JsonObject::begin() noexcept { return entries_.begin(); }
inline JsonObject::iterator JsonObject::end() noexcept { return entries_.end(); }
inline JsonObject::const_iterator JsonObject::begin() const noexcept { return entries_.begin(); }
inline JsonObject::const_iterator JsonObject::end() const noexcept { return entries_.end(); }
inline std::size_t JsonObject::size() const noexcept { return entries_.size(); }
inline bool JsonObject::empty() const noexcept { return entries_.empty(); }
inline bool operator==(const JsonObject& a, const JsonObject& b) { return a.entries_ == b.entries_; }

}  // namespace convert_engine::json
