// One scan of a node: the items that fall due together cost one exchange per distinct
// request, however many items each reply serves.
#include "ExchangeFixture.h"

#include <map>
#include <set>
#include <utility>

namespace vemox::testing {
namespace {

// Reply bodies by command: echo of the request, then zeros up to the length a valid reply
// has (address section plus this many bytes).
const std::map<std::uint8_t, std::size_t> kReplyBase = {
    {0xC2, 5}, {0xC3, 5}, {0xC4, 2}, {0xC5, 2}, {0xC8, 7}};

struct Addressed {
    const char* name;
    bool network;
    std::size_t addressSize;
};

class RequestSharingTest : public OnLine, public ::testing::WithParamInterface<Addressed> {
protected:
    RequestSharingTest() : node(GetParam().network ? NetworkNode(0, 5) : SerialNode(0, 123456)) {
        items.push_back(Item(u"Вес Нетто"));
        items.push_back(Item(u"Вес Брутто"));
        for (int bit = 0; bit < 8; ++bit) {
            items.push_back(Item(u"Дискретные входы", kPropDigitalInput, bit));
            items.push_back(Item(u"Дискретные выходы", kPropDigitalOutput, bit));
        }
        items.push_back(Item(u"Счетчик", kPropCounter, 0));
        items.push_back(Item(u"Счетчик", kPropCounter, 1));
    }

    // Hands every item to the driver in one batch and answers each request as it is written,
    // until every task is completed; answers the requests written, as (command, parameter).
    std::multiset<std::pair<int, int>> Scan() {
        const std::size_t first = tasks_.size();
        for (PropertySet& item : items) {
            Task(tAsyncRead, static_cast<std::uint32_t>(tasks_.size()), node, item);
        }
        driver_->RunTasks(0);
        std::multiset<std::pair<int, int>> requests;
        for (int cycle = 0; cycle < 100 && !AllCompleted(first); ++cycle) {
            const std::size_t written = Writes();
            driver_->Execute();
            if (Writes() == written) {
                continue;
            }
            Bytes frame = com_.Writes().back();
            std::uint8_t* body = frame.data();
            std::int32_t length = static_cast<std::int32_t>(frame.size());
            ExtractFrame(body, length);
            Bytes echo(body, body + length - 1); // without the checksum
            const std::size_t m = GetParam().addressSize;
            const std::uint8_t command = echo.at(m);
            requests.emplace(command, echo.size() > m + 1 ? echo[m + 1] : -1);
            echo.resize(m + kReplyBase.at(command), 0);
            Reply(Framed(echo));
        }
        return requests;
    }

    bool AllCompleted(std::size_t first) const {
        for (std::size_t i = first; i < tasks_.size(); ++i) {
            if (tasks_[i]->item.completions.empty()) {
                return false;
            }
        }
        return true;
    }

    PropertySet node;
    std::vector<PropertySet> items;
};

TEST_P(RequestSharingTest, TwentyItemsOfOneNodeCostSixExchangesPerScan) {
    const std::multiset<std::pair<int, int>> expected = {{0xC2, -1}, {0xC3, -1}, {0xC4, -1},
                                                         {0xC5, -1}, {0xC8, 0},  {0xC8, 1}};
    for (int scan = 1; scan <= 2; ++scan) {
        const std::size_t first = tasks_.size();
        EXPECT_EQ(Scan(), expected) << "scan " << scan;
        EXPECT_EQ(Writes(), 6u * static_cast<std::size_t>(scan));
        for (std::size_t i = first; i < tasks_.size(); ++i) {
            ASSERT_EQ(tasks_[i]->item.completions.size(), 1u) << "task " << i;
            EXPECT_EQ(tasks_[i]->item.completions[0].result, S_OK) << "task " << i;
            EXPECT_EQ(tasks_[i]->state.wQuality, kQualityGood) << "task " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Addressing, RequestSharingTest,
                         ::testing::Values(Addressed{"network", true, 1},
                                           Addressed{"serial", false, 4}),
                         [](const auto& instance) { return std::string(instance.param.name); });

} // namespace
} // namespace vemox::testing
