#!/bin/sh
# Fails when a file includes a header of a layer above its own. The arrows run
# one way: app -> frontend -> engine/service -> net -> platform, with ini below
# all; only the HTTP client (net/) includes libcurl; and nothing below app
# includes the window's toolkit (QtWidgets, QtGui).
#
# usage: tools/check-layers.sh   (from anywhere in the checkout)
set -eu
cd "$(dirname "$0")/.."

found=$(
  {
    git grep -n -E '#include [<"](engine|service|app|ini|net|frontend)/' -- platform/
    git grep -n -E '#include [<"](engine|service|app|frontend)/' -- net/
    git grep -n -E '#include [<"](engine|service|app|platform|net|frontend)/' -- ini/
    git grep -n -E '#include [<"](app|frontend)/' -- engine/ service/
    git grep -n -E '#include [<"]app/' -- frontend/
    git grep -n -E '#include [<"]curl/' -- platform/ ini/ engine/ service/ frontend/ app/
    git grep -n -E '#include [<"](QtWidgets|QtGui|QWidget|QDialog|QMessageBox|QApplication|QGuiApplication|QPushButton|QLabel|QProgressBar|QMainWindow|QStyle|QPalette|QFont)\b' \
      -- platform/ net/ ini/ engine/ service/ frontend/
  } || true
)
if [ -n "$found" ]; then
  echo "includes against the layers (app -> frontend -> engine/service -> net -> platform; ini below all; libcurl only in net; no widgets below app):" >&2
  echo "$found" >&2
  exit 1
fi
echo "layers: every include runs with the arrows"
