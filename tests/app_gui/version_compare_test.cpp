#include "app/version_compare.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

TEST(VersionCompare, OrdersReleasesAsPeopleReadThem) {
    // Oldest first (the first is empty): every version is older than each one after it.
    const QStringList ascending =
        QStringLiteral("|0.0.1|0.9.9|1.0-1|1.0-alpha|1.0|1.2a1|1.2.0-alpha|1.2.0-alpha.1|1.2b3|"
                       "1.2.0-beta.2|1.2.0-beta.10|1.2.0-rc.1|1.2|1.2.1-alpha|1.2.1|1.2.9|1.2.10|"
                       "v1.9|1.10|2|10|99999999999999999999|100000000000000000000")
            .split(u'|');
    for (qsizetype i = 0; i < ascending.size(); ++i) {
        for (qsizetype j = 0; j < i; ++j) {
            const QString &older = ascending[j], &newer = ascending[i];
            EXPECT_GT(compareVersions(newer, older), 0)
                << newer.toStdString() << " vs " << older.toStdString();
            EXPECT_LT(compareVersions(older, newer), 0)
                << older.toStdString() << " vs " << newer.toStdString();
            EXPECT_TRUE(isNewerVersion(newer, older) && !isNewerVersion(older, newer));
        }
    }
    const QStringList same = QStringLiteral("v1.2=1.2| V1.2 =1.2|1.2=1.2.0.0|01.002=1.2|1.2.0+build.7=1.2|"
                                            "1.2.0-RC.1=1.2rc1|=0")
                                 .split(u'|');
    for (const QString& pair : same) {
        const QString a = pair.section(u'=', 0, 0), b = pair.section(u'=', 1);
        EXPECT_EQ(compareVersions(a, b), 0) << pair.toStdString();
        EXPECT_EQ(compareVersions(b, a), 0) << pair.toStdString();
    }
}

// Whatever a feed says, the comparison answers and stays antisymmetric.
TEST(VersionCompare, GarbageIsOrderedConsistently) {
    const QStringList inputs =
        QStringLiteral("|v|-|+|..1..|abc|1.-2|--rc--|v1.2-|\u00e9t\u00e9|1.2.0-beta..2").split(u'|');
    for (const QString& a : inputs) {
        for (const QString& b : inputs)
            EXPECT_EQ(compareVersions(a, b) > 0, compareVersions(b, a) < 0)
                << a.toStdString() << " vs " << b.toStdString();
        EXPECT_EQ(compareVersions(a, a), 0);
    }
}

} // namespace
