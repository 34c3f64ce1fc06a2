#include "app/core/item_list_model.h"

#include <QSet>

namespace tolvane {
namespace {

constexpr int kFirstRole = Qt::UserRole + 1;

}  // namespace

ItemListModel::ItemListModel(const QStringList& roles, QObject* parent)
    : QAbstractListModel(parent), roleKeys_(roles) {}

int ItemListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || index.row() >= rows_.size()) return {};
  const int key = role - kFirstRole;
  if (key < 0 || key >= roleKeys_.size()) return {};
  return rows_[index.row()].value(roleKeys_[key]);
}

QHash<int, QByteArray> ItemListModel::roleNames() const {
  QHash<int, QByteArray> names;
  for (int i = 0; i < roleKeys_.size(); ++i) names.insert(kFirstRole + i, roleKeys_[i].toUtf8());
  return names;
}

QVariantMap ItemListModel::get(int row) const {
  if (row < 0 || row >= rows_.size()) return {};
  return rows_[row];
}

int ItemListModel::indexOf(const QString& id) const {
  for (int i = 0; i < rows_.size(); ++i) {
    if (idOf(rows_[i]) == id) return i;
  }
  return -1;
}

QString ItemListModel::idOf(const QVariantMap& row) { return row.value(QStringLiteral("id")).toString(); }

void ItemListModel::setItems(const QVariantList& items) {
  QVector<QVariantMap> next;
  QSet<QString> nextIDs;
  next.reserve(items.size());
  for (const auto& item : items) {
    QVariantMap row = item.toMap();
    const QString id = idOf(row);
    if (id.isEmpty() || nextIDs.contains(id)) continue;
    nextIDs.insert(id);
    next.append(std::move(row));
  }
  const int countBefore = count();

  QSet<QString> kept;
  for (const auto& row : rows_) {
    if (nextIDs.contains(idOf(row))) kept.insert(idOf(row));
  }
  if (kept.isEmpty() && !rows_.isEmpty() && !next.isEmpty()) {
    // Nothing in common: moving row by row would only be slower than starting again.
    beginResetModel();
    rows_ = std::move(next);
    endResetModel();
    if (count() != countBefore) emit countChanged();
    return;
  }

  // Rows that went away, from the end so that the indices ahead stay valid; adjacent
  // rows go in one removal.
  for (int end = int(rows_.size()) - 1; end >= 0;) {
    if (kept.contains(idOf(rows_[end]))) {
      --end;
      continue;
    }
    int first = end;
    while (first > 0 && !kept.contains(idOf(rows_[first - 1]))) --first;
    beginRemoveRows({}, first, end);
    rows_.remove(first, end - first + 1);
    endRemoveRows();
    end = first - 1;
  }

  // Now every row shown is in `next`: walk `next`, bringing each row to its place.
  for (int i = 0; i < next.size();) {
    const QString id = idOf(next[i]);
    if (i < rows_.size() && idOf(rows_[i]) == id) {
      updateRow(i, next[i]);
      ++i;
      continue;
    }
    if (!kept.contains(id)) {
      // New rows; adjacent ones go in one insertion.
      int last = i;
      while (last + 1 < next.size() && !kept.contains(idOf(next[last + 1]))) ++last;
      beginInsertRows({}, i, last);
      for (int k = i; k <= last; ++k) rows_.insert(k, next[k]);
      endInsertRows();
      i = last + 1;
      continue;
    }
    // A row further down that belongs here (it cannot be above: those are placed).
    int from = i + 1;
    while (idOf(rows_[from]) != id) ++from;
    beginMoveRows({}, from, from, {}, i);
    rows_.move(from, i);
    endMoveRows();
    updateRow(i, next[i]);
    ++i;
  }

  if (count() != countBefore) emit countChanged();
}

void ItemListModel::updateRow(int row, const QVariantMap& next) {
  QVariantMap& current = rows_[row];
  if (current == next) return;
  QList<int> changed;
  for (int k = 0; k < roleKeys_.size(); ++k) {
    if (current.value(roleKeys_[k]) != next.value(roleKeys_[k])) changed.append(kFirstRole + k);
  }
  current = next;
  // A change only in keys no view reads is still the row's new value, but no signal.
  if (changed.isEmpty()) return;
  const QModelIndex at = index(row);
  emit dataChanged(at, at, changed);
}

}  // namespace tolvane
