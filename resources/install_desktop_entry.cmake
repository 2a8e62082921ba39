# Runs at install time (resources/install.cmake): writes the desktop entry with the full path of
# the installed program, and records it in the install manifest like every installed file.
# In: SONIVERT_ENTRY_TEMPLATE, SONIVERT_ENTRY_NAME, SONIVERT_APP_ID, SONIVERT_BINDIR, SONIVERT_DATADIR, and
# CMAKE_INSTALL_PREFIX as given to `cmake --install`.
set(bindir "${SONIVERT_BINDIR}")
if(NOT IS_ABSOLUTE "${bindir}")
  set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
endif()
set(datadir "${SONIVERT_DATADIR}")
if(NOT IS_ABSOLUTE "${datadir}")
  set(datadir "${CMAKE_INSTALL_PREFIX}/${datadir}")
endif()

# The program as one quoted argument of Exec: inside the quotes '"', '`', '$' and '\' take a
# backslash, and every backslash of the value is then doubled once more, as the format of the
# entry's strings asks. A prefix with spaces ("My Programs") thus stays one argument.
set(program "${bindir}/sonivert")
string(REPLACE "\\" "\\\\" program "${program}")
string(REPLACE "\"" "\\\"" program "${program}")
string(REPLACE "`" "\\`" program "${program}")
string(REPLACE "$" "\\$" program "${program}")
string(REPLACE "\\" "\\\\" program "${program}")
string(REPLACE "%" "%%" program "${program}")

file(READ "${SONIVERT_ENTRY_TEMPLATE}" entry)
set(SONIVERT_EXEC "\"${program}\"")
string(CONFIGURE "${entry}" entry @ONLY)
set(target "${datadir}/applications/${SONIVERT_ENTRY_NAME}")
message(STATUS "Installing: $ENV{DESTDIR}${target}")
file(WRITE "$ENV{DESTDIR}${target}" "${entry}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
