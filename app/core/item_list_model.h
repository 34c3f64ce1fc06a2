#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QVector>

namespace tolvane {

// A list of rows for the views' ListView and GridView: each row is a map keyed by
// "id", and each key the model was made with is a role of that name.
//
// setItems() changes the rows in place, by id: a changed row emits dataChanged for the
// roles that changed, a row that went away is removed, a new one inserted and one that
// moved is moved. A view therefore keeps its scroll position and its delegates while an
// upload's progress ticks several times a second; only a list with no id in common with
// the previous one (a different account's library) resets the model.
class ItemListModel final : public QAbstractListModel {
  Q_OBJECT
  Q_PROPERTY(int count READ count NOTIFY countChanged)

 public:
  // `roles` are the keys the views read; a key missing from a row reads as undefined.
  explicit ItemListModel(const QStringList& roles, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QHash<int, QByteArray> roleNames() const override;

  int count() const { return int(rows_.size()); }
  // The row's whole map; empty when `row` is out of range.
  Q_INVOKABLE QVariantMap get(int row) const;
  // The row with this id, or -1.
  Q_INVOKABLE int indexOf(const QString& id) const;

  // Each element is a QVariantMap; a row without an "id" or with an id already seen
  // earlier in the list is left out, since rows are told apart by id.
  void setItems(const QVariantList& items);

 signals:
  void countChanged();

 private:
  static QString idOf(const QVariantMap& row);
  void updateRow(int row, const QVariantMap& next);

  QStringList roleKeys_;
  QVector<QVariantMap> rows_;
};

}  // namespace tolvane
