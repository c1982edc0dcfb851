// Every unit test starts with the collector stress that ZAN_GC_STRESS asks for,
// and leaves the collector switched on or off as it found it, whatever it set
// for itself: otherwise one test that turns stress or collection off would
// quietly take them away from every test after it in the same run. A suite
// starts with collection off, as in a process of its own; its set-up switches
// it on where the suite wants it. A test that puts its own recorder in the
// deep-change hook or the sorts' comparator callbacks gets the runtime's back
// afterwards, and one that gives object! a stand-in interpreter the real one.
#include <gtest/gtest.h>

#include <cstdlib>

#include "datatypes/block_sort.h"
#include "datatypes/object.h"
#include "datatypes/string_search.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"

namespace zan {
namespace {

uint32_t requested_stress() {
    const char* s = std::getenv("ZAN_GC_STRESS");
    long v = s ? std::strtol(s, nullptr, 10) : 0;
    return v > 0 ? uint32_t(v) : 0;
}

class Isolation : public ::testing::EmptyTestEventListener {
    void OnTestSuiteStart(const ::testing::TestSuite&) override { collector::set_enabled(false); }
    void OnTestStart(const ::testing::TestInfo&) override {
        enabled_ = collector::enabled();
        deep_change_ = ownership::deep_change_hook();
        block_compare_ = block::compare_callback_installed();
        string_compare_ = string::compare_callback_installed();
        reset_stress();
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        reset_stress();
        collector::set_enabled(enabled_);
        // Nothing to give back when object! was not there yet.
        if (deep_change_) ownership::set_deep_change_hook(deep_change_);
        if (block_compare_) block::set_compare_callback(block_compare_);
        if (string_compare_) string::set_compare_callback(string_compare_);
        object::set_interpreter(nullptr, nullptr);
    }
    static void reset_stress() {
        if (memory::gc_stress() != requested_stress()) memory::set_gc_stress(requested_stress());
    }
    bool enabled_ = false;
    ownership::DeepChange deep_change_ = nullptr;
    block::CompareCallback block_compare_ = nullptr;
    string::CompareCallback string_compare_ = nullptr;
};

const bool installed = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new Isolation);
    return true;
}();

}  // namespace
}  // namespace zan
