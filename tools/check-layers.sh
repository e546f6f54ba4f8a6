#!/bin/sh
# Fails when a file includes a header of a layer above its own. The arrows run
# one way: app, unattended -> frontend -> engine/service -> net -> platform,
# with ini below all; the two front ends never include each other (only the
# program's main, app/main.cpp, starts the unattended one); only the HTTP
# client (net/) includes libcurl and libproxy; and nothing but app/ includes
# the window's toolkit (QtWidgets, QtGui).
#
# usage: tools/check-layers.sh   (from anywhere in the checkout)
set -eu
cd "$(dirname "$0")/.."

found=$(
  {
    git grep -n -E '#include [<"](engine|service|app|ini|net|frontend|unattended)/' -- platform/
    git grep -n -E '#include [<"](engine|service|app|frontend|unattended)/' -- net/
    git grep -n -E '#include [<"](engine|service|app|platform|net|frontend|unattended)/' -- ini/
    git grep -n -E '#include [<"](app|frontend|unattended)/' -- engine/ service/
    git grep -n -E '#include [<"](app|unattended)/' -- frontend/
    git grep -n -E '#include [<"]app/' -- unattended/
    git grep -n -E '#include [<"]unattended/' -- app/ ':!app/main.cpp'
    git grep -n -E '#include [<"](curl/|proxy\.h)' -- platform/ ini/ engine/ service/ frontend/ unattended/ app/
    git grep -n -E '#include [<"](QtWidgets|QtGui|QWidget|QDialog|QMessageBox|QApplication|QGuiApplication|QPushButton|QLabel|QProgressBar|QMainWindow|QStyle|QPalette|QFont)\b' \
      -- platform/ net/ ini/ engine/ service/ frontend/ unattended/ app/main.cpp
  } || true
)
if [ -n "$found" ]; then
  echo "includes against the layers (app, unattended -> frontend -> engine/service -> net -> platform; ini below all; libcurl and libproxy only in net; no widgets outside the window):" >&2
  echo "$found" >&2
  exit 1
fi
echo "layers: every include runs with the arrows"
