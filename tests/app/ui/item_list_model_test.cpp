#include "app/core/item_list_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QStringList>
#include <ostream>

namespace tolvane {
namespace {

// A row "b" or "b:7" (id b, progress 7); the title is fixed, so a change is a
// change of progress unless a case says otherwise with "b:7:T" (title T).
QVariantMap row(const QString& spec) {
  const QStringList parts = spec.split(QLatin1Char(':'));
  QVariantMap map{{QStringLiteral("title"), parts.value(2, QStringLiteral("t"))},
                  {QStringLiteral("progress"), parts.value(1, QStringLiteral("0")).toInt()}};
  if (!parts[0].isEmpty()) map.insert(QStringLiteral("id"), parts[0]);
  return map;
}

QVariantList rows(const QStringList& specs) {
  QVariantList list;
  for (const auto& spec : specs) list.append(row(spec));
  return list;
}

// Every structural signal the model sends, as text, to compare with what a case expects.
QStringList record(ItemListModel& model, const std::function<void()>& change) {
  QStringList log;
  QList<QMetaObject::Connection> connections{
      QObject::connect(
          &model, &QAbstractItemModel::rowsInserted,
          [&](const QModelIndex&, int first, int last) { log << QStringLiteral("insert %1-%2").arg(first).arg(last); }),
      QObject::connect(
          &model, &QAbstractItemModel::rowsRemoved,
          [&](const QModelIndex&, int first, int last) { log << QStringLiteral("remove %1-%2").arg(first).arg(last); }),
      QObject::connect(&model, &QAbstractItemModel::rowsMoved,
                       [&](const QModelIndex&, int from, int, const QModelIndex&, int to) {
                         log << QStringLiteral("move %1->%2").arg(from).arg(to);
                       }),
      QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { log << QStringLiteral("reset"); }),
      QObject::connect(&model, &QAbstractItemModel::dataChanged,
                       [&](const QModelIndex& top, const QModelIndex& bottom, const QList<int>& roles) {
                         QStringList names;
                         for (int role : roles) names << QString::fromUtf8(model.roleNames().value(role));
                         log << QStringLiteral("change %1-%2 %3").arg(top.row()).arg(bottom.row()).arg(names.join(','));
                       }),
      QObject::connect(&model, &ItemListModel::countChanged, [&] { log << QStringLiteral("count"); })};
  change();
  for (const auto& connection : connections) QObject::disconnect(connection);
  return log;
}

QStringList idsOf(const ItemListModel& model) {
  QStringList ids;
  for (int i = 0; i < model.count(); ++i) ids << model.get(i).value(QStringLiteral("id")).toString();
  return ids;
}

struct DiffCase {
  const char* name;
  QStringList before;
  QStringList after;
  QStringList signalsExpected;
  QStringList idsExpected;  // when the list given is not the result (rows left out)
};

// Test names, not bytes, in ctest's listing.
void PrintTo(const DiffCase& c, std::ostream* out) { *out << c.name; }

class ItemListModelDiff : public ::testing::TestWithParam<DiffCase> {};

TEST_P(ItemListModelDiff, ChangesRowsInPlaceWithTheRightSignals) {
  const DiffCase& c = GetParam();
  ItemListModel model({QStringLiteral("id"), QStringLiteral("title"), QStringLiteral("progress")});
  // Fails the test on any inconsistency between the signals and the rows.
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.setItems(rows(c.before));

  const QStringList log = record(model, [&] { model.setItems(rows(c.after)); });
  EXPECT_EQ(log, c.signalsExpected);

  QStringList expectedIDs = c.idsExpected;
  if (expectedIDs.isEmpty()) {
    for (const auto& spec : c.after) expectedIDs << spec.section(QLatin1Char(':'), 0, 0);
  }
  EXPECT_EQ(idsOf(model), expectedIDs);
  // The views read roles, not get(): the data behind each role is the new row's.
  for (int i = 0; i < model.count(); ++i) {
    const QVariantMap wanted = model.get(i);
    EXPECT_EQ(model.data(model.index(i), Qt::UserRole + 3), wanted.value(QStringLiteral("progress")));
  }
  if (!c.after.isEmpty() && c.idsExpected.isEmpty()) {
    EXPECT_EQ(model.get(model.count() - 1), row(c.after.last()));
  }
}

const QStringList none;

INSTANTIATE_TEST_SUITE_P(
    Cases, ItemListModelDiff,
    ::testing::Values(
        DiffCase{"ProgressTick", {"a", "b:10", "c"}, {"a", "b:40", "c"}, {"change 1-1 progress"}, {}},
        DiffCase{"TwoRolesChange", {"a", "b:10"}, {"a", "b:40:New"}, {"change 1-1 title,progress"}, {}},
        DiffCase{"NothingChanged", {"a", "b"}, {"a", "b"}, none, {}},
        DiffCase{"NewRecordingOnTop", {"a", "b"}, {"n", "a", "b"}, {"insert 0-0", "count"}, {}},
        DiffCase{"TwoNewRowsInTheMiddle", {"a", "b"}, {"a", "x", "y", "b"}, {"insert 1-2", "count"}, {}},
        DiffCase{"AdjacentRowsDeleted", {"a", "b", "c", "d"}, {"a", "d"}, {"remove 1-2", "count"}, {}},
        DiffCase{"RowsApartDeleted", {"a", "b", "c", "d"}, {"b", "d"}, {"remove 2-2", "remove 0-0", "count"}, {}},
        DiffCase{"LastRowMovesToTop", {"a", "b", "c"}, {"c", "a", "b"}, {"move 2->0"}, {}},
        DiffCase{"Mixed",
                 {"a", "b", "c"},
                 {"c", "x", "a:5"},
                 {"remove 1-1", "move 1->0", "insert 1-1", "change 2-2 progress"},
                 {}},
        DiffCase{"NothingInCommonResets", {"a", "b"}, {"x", "y", "z"}, {"reset", "count"}, {}},
        DiffCase{"FromEmpty", {}, {"a", "b"}, {"insert 0-1", "count"}, {}},
        DiffCase{"ToEmpty", {"a", "b"}, {}, {"remove 0-1", "count"}, {}},
        DiffCase{"DuplicateAndMissingIDsLeftOut", {}, {"a", "a:9", ":3", "b"}, {"insert 0-1", "count"}, {"a", "b"}}),
    [](const ::testing::TestParamInfo<DiffCase>& param) { return std::string(param.param.name); });

TEST(ItemListModel, RolesAreTheKeysGivenAndGetOutOfRangeIsEmpty) {
  ItemListModel model({QStringLiteral("id"), QStringLiteral("title")});
  model.setItems(rows({"a:1:First"}));
  const auto names = model.roleNames();
  ASSERT_EQ(names.size(), 2);
  const int titleRole = names.key("title");
  EXPECT_EQ(model.data(model.index(0), titleRole).toString(), QStringLiteral("First"));
  EXPECT_FALSE(model.data(model.index(0), Qt::DisplayRole).isValid());
  EXPECT_TRUE(model.get(1).isEmpty());
  EXPECT_TRUE(model.get(-1).isEmpty());
  EXPECT_EQ(model.indexOf(QStringLiteral("a")), 0);
  EXPECT_EQ(model.indexOf(QStringLiteral("zz")), -1);
}

}  // namespace
}  // namespace tolvane
