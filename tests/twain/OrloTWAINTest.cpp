#include "OrloTWAIN.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "TwainTestSupport.h"

namespace {

class SessionTest : public FakeDsmTest {};

TEST_F(SessionTest, SourceListWhileIdleOpensAndClosesTheManager) {
    TOrloTWAIN twain(nullptr);
    QStringList list;
    twain.GetSourceList(list);
    EXPECT_EQ(list, QStringList({"Alpha", "Beta"}));
    EXPECT_FALSE(twain.DSMOpen());
    EXPECT_TRUE(PumpUntil([&] { return twain.TwainState() == 1; }));
}

}  // namespace
