// The driver between recording host fakes and the test's clock: tasks go in through the
// public interfaces, frames come out through the fake port service, replies go back in.
#pragma once

#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "fakes/FakeClock.h"
#include "fakes/HostFakes.h"
#include "fakes/HostTasks.h"
#include "platform/Com.h"
#include "protocol/Codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace vemox::testing {

using Bytes = std::vector<std::uint8_t>;
using platform::Variant;

inline constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);

// A framed body with its checksum appended.
inline Bytes Framed(Bytes body) {
    body.push_back(CalcCRC(body.data(), static_cast<std::int32_t>(body.size()), 1));
    return WrapFrame(body.data(), static_cast<std::int32_t>(body.size()));
}

class OnLine : public ::testing::Test {
protected:
    OnLine() : clock_(platform::CivilTime{2026, 3, 2, 10, 0, 0, 0}) {
        GetKibDriver2(&driver_);
        KibShortString name, descript, help;
        driver_->Initial(&server_, &com_, &name, &descript, &help, &receive_);
    }
    ~OnLine() override {
        driver_->PurgeActions();
        driver_->Deinitial();
        DriverSettings = TDriverSettings{};
    }

    HostTask& Task(TTask kind, std::uint32_t id, PropertySet& node, PropertySet& item) {
        tasks_.push_back(std::make_unique<HostTask>());
        driver_->AddTask(tasks_.back()->Def(kind, id, node, item));
        return *tasks_.back();
    }
    void Reply(const Bytes& bytes, TComPortNum port = 0) {
        receive_->OnReceiveData(port, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    std::size_t Writes() const { return com_.Writes().size(); }
    // Calls of one kind on the port service, in order.
    std::vector<PortCall::Kind> Kinds() const {
        std::vector<PortCall::Kind> kinds;
        for (const auto& c : com_.calls) {
            kinds.push_back(c.kind);
        }
        return kinds;
    }
    // Runs cycles, the clock moving `stepMs` before each, until the task is completed.
    void RunUntilDone(const HostTask& task, std::int64_t stepMs, int maxCycles = 2000) {
        for (int i = 0; i < maxCycles && task.item.completions.empty(); ++i) {
            clock_.Advance(stepMs);
            driver_->Execute();
        }
    }

    FakeClock clock_;
    FakeServer server_;
    FakeComPort com_;
    IKibDriver3* driver_ = nullptr;
    IKibReceiveData* receive_ = nullptr;
    std::vector<std::unique_ptr<HostTask>> tasks_;
};

} // namespace vemox::testing
