#include "ini/ParseError.h"

namespace ov {

namespace {

QString describe(ParseError::Kind kind, qsizetype row, qsizetype pos) {
  const QString what = kind == ParseError::Kind::invalidSyntax ? QStringLiteral("Invalid syntax")
                                                               : QStringLiteral("Unsupported token");
  return what + QStringLiteral(" at row ") + QString::number(row) + QStringLiteral(", position ") +
         QString::number(pos);
}

}  // namespace

ParseError::ParseError(Kind kind, const TextPosition& position)
    : std::runtime_error(describe(kind, position.row, position.pos).toStdString()),
      kind(kind),
      line(position.line),
      row(position.row),
      pos(position.pos) {}

QString ParseError::description() const {
  return describe(kind, row, pos);
}

}  // namespace ov
