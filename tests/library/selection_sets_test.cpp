#include "library/export_check_selection.h"
#include "library/library_selection.h"

#include <gtest/gtest.h>

using namespace tampod;

namespace {

template <typename Selection>
int *countNotifications(Selection &selection)
{
    auto *count = new int(0);
    QObject::connect(&selection, &Selection::idsChanged, &selection, [count] { ++*count; });
    QObject::connect(&selection, &QObject::destroyed, [count] { delete count; });
    return count;
}

AudioTrack trackWithID(const QUuid &id)
{
    AudioTrack track;
    track.id = id;
    return track;
}

} // namespace

TEST(SelectionSets, LibrarySelectionNotifiesOnlyOnChange)
{
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    const QUuid gone = QUuid::createUuid();
    const QList<AudioTrack> library{trackWithID(a), trackWithID(b)};

    LibrarySelection selection;
    int *notified = countNotifications(selection);
    selection.replace({a, gone}, library);
    EXPECT_EQ(selection.ids(), QSet<QUuid>{a});
    EXPECT_EQ(*notified, 1);
    selection.replace({a}, library);
    selection.setIds({a});
    EXPECT_EQ(*notified, 1) << "the same set notifies nobody";
    selection.replace({gone}, library);
    EXPECT_TRUE(selection.ids().isEmpty());
    EXPECT_EQ(*notified, 2);
    selection.replace({a, b}, {});
    EXPECT_EQ(*notified, 2);
}

TEST(SelectionSets, ExportChecksAlwaysNotifyOnOperations)
{
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    ExportCheckSelection checks;
    int *notified = countNotifications(checks);

    checks.clear();
    checks.remove({a});
    EXPECT_EQ(*notified, 2) << "remove and clear notify even on an empty set";
    checks.set(a, true);
    checks.set(a, true);
    EXPECT_EQ(*notified, 4);
    checks.set(b, true);
    checks.set(a, false);
    EXPECT_EQ(checks.ids(), QSet<QUuid>{b});
    checks.setIds({b});
    EXPECT_EQ(*notified, 6) << "assigning an equal set notifies nobody";
    checks.setIds({a, b});
    EXPECT_EQ(*notified, 7);
    checks.remove({a, QUuid::createUuid()});
    EXPECT_EQ(checks.ids(), QSet<QUuid>{b});
    checks.clear();
    EXPECT_TRUE(checks.ids().isEmpty());
    EXPECT_EQ(*notified, 9);
}
