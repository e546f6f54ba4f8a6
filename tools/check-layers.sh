#!/bin/sh
# Fails when a file includes a header of a layer above its own. The arrows run
# one way: app -> engine/service -> ini, platform; and nothing below app
# includes the window's toolkit (QtWidgets, QtGui).
#
# usage: tools/check-layers.sh   (from anywhere in the checkout)
set -eu
cd "$(dirname "$0")/.."

found=$(
  {
    git grep -n -E '#include [<"](engine|service|app|ini)/' -- platform/
    git grep -n -E '#include [<"](engine|service|app|platform)/' -- ini/
    git grep -n -E '#include [<"]app/' -- engine/ service/
    git grep -n -E '#include [<"](QtWidgets|QtGui|QWidget|QDialog|QMessageBox|QApplication|QGuiApplication|QPushButton|QLabel|QProgressBar|QMainWindow|QStyle|QPalette|QFont)\b' \
      -- platform/ ini/ engine/ service/
  } || true
)
if [ -n "$found" ]; then
  echo "includes against the layers (app -> engine/service -> ini, platform; no widgets below app):" >&2
  echo "$found" >&2
  exit 1
fi
echo "layers: every include runs with the arrows"
