#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "basics/Log.h"
#include "basics/XJObject.h"

namespace vitrine::testing {

// A small XJObject for collection and weak-reference tests: equal by name, so two jars with the
// same name are equal but not identical. Counts its destructions so that tests can check that a
// collection releases every element exactly once.
struct TestJar : XJObject {
    explicit TestJar(std::string name, std::atomic<int>* destroyed = nullptr)
        : name(std::move(name)), destroyed(destroyed) {}
    ~TestJar() override {
        alive.store(false);
        if (destroyed) destroyed->fetch_add(1);
    }

    bool isEqual(const XJObject& other) const override {
        const auto* jar = dynamic_cast<const TestJar*>(&other);
        return jar && jar->name == name;
    }
    std::string description() const override { return "<Jar " + name + ">"; }
    int compare(const TestJar& other) const { return name.compare(other.name); }

    std::string name;
    std::atomic<bool> alive{true};
    std::atomic<int>* destroyed;
};

inline std::shared_ptr<TestJar> jar(std::string name, std::atomic<int>* destroyed = nullptr) {
    return std::make_shared<TestJar>(std::move(name), destroyed);
}

}  // namespace vitrine::testing
