// Small shared classes: method pointers and their lists.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <typeinfo>
#include <vector>

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

    bool IsAssigned() const { return static_cast<bool>(FCall); }
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
