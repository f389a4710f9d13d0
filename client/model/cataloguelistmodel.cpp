#include "cataloguelistmodel.h"

namespace {
constexpr int kRecordRole = Qt::UserRole + 1;
constexpr int kRowRole = Qt::UserRole + 2;
}

CatalogueListModel::CatalogueListModel(RecordFunction record, QObject *parent)
    : QAbstractListModel(parent), m_record(std::move(record))
{
}

void CatalogueListModel::setRows(const QVector<int> &rows)
{
    if (rows.size() != m_rows.size()) {
        beginResetModel();
        m_rows = rows;
        endResetModel();
        Q_EMIT countChanged();
        return;
    }
    m_rows = rows;
    // Latency and quality may have changed even where the row did not.
    if (!m_rows.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(m_rows.size()) - 1), {kRecordRole, kRowRole});
}

int CatalogueListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant CatalogueListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    if (role == kRowRole)
        return m_rows.at(index.row());
    if (role != kRecordRole || !m_record)
        return QVariant();
    return m_record(m_rows.at(index.row()));
}

QHash<int, QByteArray> CatalogueListModel::roleNames() const
{
    // Two roles: a delegate model updates each role of a many-role model in place,
    // where the lone role of a one-role model may keep its first value.
    return {{kRecordRole, QByteArrayLiteral("record")}, {kRowRole, QByteArrayLiteral("sourceRow")}};
}
