#pragma once

#include "testsupport/ProtocolFacts.h"

#include <QTest>

#include <initializer_list>

using facts::FeedSentence;
using facts::Framed;

// The columns of a data-driven test, each named once with its type. Called with a row's name and one
// value per column, it adds the row; each value is taken in its column's type, so that a literal or a
// braced list needs no spelling out.
template <typename... Columns> class DataTable {
public:
    explicit DataTable(std::initializer_list<const char*> aszNames) {
        const char* const* ppszName = aszNames.begin();
        (QTest::addColumn<Columns>(*ppszName++), ...);
    }

    void operator()(const QByteArray& baName, const Columns&... values) const {
        (QTest::newRow(baName.constData()) << ... << values);
    }
};
