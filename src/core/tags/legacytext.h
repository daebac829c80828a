// Text whose bytes declare no encoding, standing alone: a file name that is
// not UTF-8, say. It reads by the rule of undeclared tag text (textcodec.h):
// UTF-8 when valid, else CP932 or Windows-1252, whichever reads more like
// text a person wrote.
#pragma once

#include <QByteArray>
#include <QString>

namespace mp3lib {

QString decodeLegacy(const QByteArray &bytes);

} // namespace mp3lib
