# Fails when a widget-free library reaches for a widget: an include of a
# widget, dialog, printer or chart header, or of anything in view/, in one of
# its files, or a library it links that is not itself widget-free.
#
#   cmake -DFILES=a.cpp|b.h|... -DLINKS=lib=dep,dep|... -DALLOWED=dep|... -P check-core-layering.cmake

cmake_minimum_required(VERSION 3.22)

string(REPLACE "|" ";" files "${FILES}")
string(REPLACE "|" ";" links "${LINKS}")
string(REPLACE "|" ";" allowed "${ALLOWED}")

if(NOT files)
    message(FATAL_ERROR "no files of the widget-free libraries were given to check")
endif()

set(forbidden
    "^[ \t]*#[ \t]*include[ \t]*[<\"](QtWidgets|QtPrintSupport)(/[^>\"]*)?[>\"]"
    "^[ \t]*#[ \t]*include[ \t]*[<\"](QWidget|QApplication|QMessageBox|QPrinter[A-Za-z]*|Q[A-Za-z]*Dialog)[>\"]"
    "^[ \t]*#[ \t]*include[ \t]*[<\"]qcustomplot\\.h[>\"]"
    "^[ \t]*#[ \t]*include[ \t]*\"view/[^\"]*\"")

set(faults)
foreach(file IN LISTS files)
    if(NOT EXISTS "${file}")
        list(APPEND faults "${file}: no such file")
        continue()
    endif()
    file(STRINGS "${file}" lines REGEX "#[ \t]*include")
    foreach(line IN LISTS lines)
        foreach(pattern IN LISTS forbidden)
            if(line MATCHES "${pattern}")
                string(STRIP "${line}" line)
                list(APPEND faults "${file}: ${line}")
            endif()
        endforeach()
    endforeach()
endforeach()

foreach(entry IN LISTS links)
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 library)
    list(LENGTH parts count)
    if(count LESS 2)
        continue()
    endif()
    list(GET parts 1 deps)
    string(REPLACE "," ";" deps "${deps}")
    foreach(dep IN LISTS deps)
        # Private links come as $<LINK_ONLY:name>.
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dep "${dep}")
        if(NOT dep IN_LIST allowed)
            list(APPEND faults "${library} links ${dep}, which is not widget-free")
        endif()
    endforeach()
endforeach()

if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "The widget-free libraries must not depend on widgets:\n  ${text}")
endif()
list(LENGTH files checked)
message(STATUS "${checked} files of the widget-free libraries include no widget header")
