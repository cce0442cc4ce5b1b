// GoogleTest main with a QCoreApplication, which the Qt SQL driver and the threads' event loops
// need. Qt complaining about how it was called ("QSqlQuery::prepare: no driver") fails the run,
// naming the test it came in.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "qtcomplaints.h"

namespace {

// The complaints of each test, named by it.
QStringList& blamed() {
    static QStringList list;
    return list;
}

class BlameTests : public ::testing::EmptyTestEventListener {
  public:
    void OnTestStart(const ::testing::TestInfo&) override {
        before_ = testsupport::qtComplaints().size();
    }
    void OnTestEnd(const ::testing::TestInfo& test) override {
        for (const QString& c : testsupport::qtComplaints(before_))
            blamed() << QStringLiteral("%1.%2: %3")
                            .arg(QString::fromUtf8(test.test_suite_name()),
                                 QString::fromUtf8(test.name()), c);
    }

  private:
    qsizetype before_ = 0;
};

class NoComplaints : public ::testing::Environment {
  public:
    void TearDown() override {
        EXPECT_TRUE(blamed().isEmpty()) << "Qt complained:\n" << blamed().join(u'\n').toStdString();
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    testsupport::watchQtComplaints();
    ::testing::UnitTest::GetInstance()->listeners().Append(new BlameTests);
    ::testing::AddGlobalTestEnvironment(new NoComplaints);
    return RUN_ALL_TESTS();
}
