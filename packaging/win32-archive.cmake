# Writes the editor's release archive: quorvane5.auf and quorvane5-readme.txt, nothing
# else, at the top of the zip. Run by the Windows build's win32-archive target with
# -DVERSION -DAUF -DREADME -DSTAGE -DARCHIVE.
#
# The readme is UTF-8 with a byte order mark and CRLF line ends: Notepad reads that as
# UTF-8 on every Windows version and in every locale (without the mark, Notepad before
# Windows 10 1903 takes it for the local code page), whereas Shift_JIS shows only on a
# Japanese-locale Windows. CRLF because Notepad before Windows 10 1809 shows a file
# with bare LFs as one long line.
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
file(COPY ${AUF} DESTINATION ${STAGE})

file(READ ${README} text)
string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE ${STAGE}/quorvane5-readme.txt "${bom}${text}")

file(REMOVE ${ARCHIVE})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ARCHIVE} --format=zip
                        quorvane5.auf quorvane5-readme.txt
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${ARCHIVE}")
endif()
