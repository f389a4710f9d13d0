#pragma once

#include <QAbstractListModel>
#include <QVector>

#include <functional>

// A list the servers page shows: rows of the catalogue in the order of the
// moment, each read through the record function when a delegate asks, so no
// record is copied per page, per sort or per search. The delegates see each
// record as `model.record` (and its source row as `model.sourceRow`).
class CatalogueListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    using RecordFunction = std::function<QVariant(int sourceRow)>;

    explicit CatalogueListModel(RecordFunction record, QObject *parent = nullptr);

    int count() const { return int(m_rows.size()); }
    const QVector<int> &rows() const { return m_rows; }

    // Shows these source rows. The same number of rows is updated in place (the
    // shown delegates re-read their records, the view keeps its place); another
    // number resets the list.
    void setRows(const QVector<int> &rows);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void countChanged();

private:
    RecordFunction m_record;
    QVector<int> m_rows;
};
