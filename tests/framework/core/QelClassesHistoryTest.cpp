#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "QelClasses.h"

namespace {

// A command that logs its calls and its destruction into a shared journal.
class Step : public TQelCommandState {
public:
    Step(std::string name, std::vector<std::string>& log) : FName(std::move(name)), FLog(log) {}
    ~Step() override { FLog.push_back("free " + FName); }
    void Undo() override {
        FLog.push_back("undo " + FName);
        if (failUndo) throw std::runtime_error("undo failed");
    }
    void Redo() override {
        FLog.push_back("redo " + FName);
        if (failRedo) throw std::runtime_error("redo failed");
    }
    bool failUndo = false;
    bool failRedo = false;

private:
    std::string FName;
    std::vector<std::string>& FLog;
};

}  // namespace

TEST(TQelCommandHistoryList, AddAfterUndoFreesTheRedoTailLastFirst) {
    std::vector<std::string> log;
    TQelCommandHistoryList h;
    auto a = std::make_unique<Step>("A", log);
    TQelCommandState* pa = a.get();
    h.Add(std::move(a));
    h.Add(std::make_unique<Step>("B", log));
    h.Add(std::make_unique<Step>("C", log));
    h.Undo();
    h.Undo();
    EXPECT_EQ(log, (std::vector<std::string>{"undo C", "undo B"}));
    log.clear();
    auto d = std::make_unique<Step>("D", log);
    TQelCommandState* pd = d.get();
    h.Add(std::move(d));
    EXPECT_EQ(log, (std::vector<std::string>{"free C", "free B"}));
    EXPECT_EQ(h.Count(), 2);
    EXPECT_EQ(h.Index(), 2);
    EXPECT_EQ(h.Items(0), pa);
    EXPECT_EQ(h.Items(1), pd);
    EXPECT_FALSE(h.CanRedo());
    EXPECT_TRUE(h.CanUndo());
    EXPECT_THROW(h.Add(nullptr), EQelError);
    EXPECT_EQ(h.Count(), 2);
}

TEST(TQelCommandHistoryList, UndoRedoMoveOneStepAndStopAtTheEnds) {
    std::vector<std::string> log;
    TQelCommandHistoryList h;
    h.Undo();
    h.Redo();
    EXPECT_EQ(h.NextUndo(), nullptr);
    EXPECT_EQ(h.NextRedo(), nullptr);
    auto a = std::make_unique<Step>("A", log);
    TQelCommandState* pa = a.get();
    h.Add(std::move(a));
    EXPECT_EQ(h.NextUndo(), pa);
    EXPECT_EQ(h.NextRedo(), nullptr);
    h.Redo();  // nothing to redo
    EXPECT_TRUE(log.empty());
    h.Undo();
    EXPECT_EQ(h.NextUndo(), nullptr);
    EXPECT_EQ(h.NextRedo(), pa);
    EXPECT_EQ(h.Index(), 0);
    h.Undo();  // nothing to undo
    h.Redo();
    h.Redo();
    EXPECT_EQ(log, (std::vector<std::string>{"undo A", "redo A"}));
    EXPECT_EQ(h.Index(), 1);
}

TEST(TQelCommandHistoryList, FailingCommandsCountAsUndone) {
    std::vector<std::string> log;
    TQelCommandHistoryList h;
    auto a = std::make_unique<Step>("A", log);
    Step* pa = a.get();
    h.Add(std::move(a));
    pa->failUndo = true;
    EXPECT_THROW(h.Undo(), std::runtime_error);
    EXPECT_EQ(h.Index(), 0);  // moved before the command ran
    pa->failRedo = true;
    EXPECT_THROW(h.Redo(), std::runtime_error);
    EXPECT_EQ(h.Index(), 0);  // moves only after the command ran
    pa->failRedo = false;
    h.Redo();
    EXPECT_EQ(h.Index(), 1);
}

TEST(TQelCommandHistoryList, DestructionFreesEveryCommandOnce) {
    std::vector<std::string> log;
    {
        TQelCommandHistoryList h;
        h.Add(std::make_unique<Step>("A", log));
        h.Add(std::make_unique<Step>("B", log));
        h.Add(std::make_unique<Step>("C", log));
        h.Undo();
        log.clear();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"free C", "free B", "free A"}));
}
