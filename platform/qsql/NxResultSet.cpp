#include "NxDbConnection.h"

namespace nxsql {

void ResultSet::setColumns(std::vector<std::string> utf8Names) {
    m_columns.clear();
    for (const std::string& name : utf8Names) {
        std::string gbk;
        m_codec->toGbk(name.data(), name.size(), &gbk);
        m_columns.push_back(gbk);
    }
}

void ResultSet::addNull() {
    m_cells.push_back({m_data.size(), true});
    m_data.push_back('\0');
}

void ResultSet::addText(const char* utf8, size_t length) {
    m_cells.push_back({m_data.size(), false});
    m_codec->appendGbk(utf8, length, &m_data);
    m_data.push_back('\0');
}

bool ResultSet::inRange(int row, int column) const {
    return row >= 0 && column >= 0 && row < rows() && column < columns() &&
           index(row, column) < m_cells.size();
}

const char* ResultSet::text(int row, int column) const {
    if (!inRange(row, column))
        return nullptr;
    return m_data.data() + m_cells[index(row, column)].offset;
}

bool ResultSet::isNull(int row, int column) const {
    return !inRange(row, column) || m_cells[index(row, column)].null;
}

const char* ResultSet::columnName(int column) const {
    if (column < 0 || column >= columns())
        return nullptr;
    return m_columns[static_cast<size_t>(column)].c_str();
}

}  // namespace nxsql
