# The MSI's list of files: every file of the staged installation, as
# wixl-heat writes it (one component each, in the folder INSTALLDIR).
#   cmake -DSTAGE=dir -DOUT=files.wxs -P WindowsFiles.cmake
file(GLOB_RECURSE files LIST_DIRECTORIES false "${STAGE}/*")
list(SORT files)
string(REPLACE ";" "\n" listing "${files}")
file(WRITE "${OUT}.list" "${listing}\n")
execute_process(COMMAND wixl-heat --prefix "${STAGE}/" --directory-ref INSTALLDIR
                  --component-group ProgramFiles --var var.SourceDir --win64
  INPUT_FILE "${OUT}.list" OUTPUT_FILE "${OUT}" COMMAND_ERROR_IS_FATAL ANY)
