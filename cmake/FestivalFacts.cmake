# Festival's version and data folder, read once at configure time from the archive that
# is linked whole into libparlen_festival.so: the voice list names them without mapping
# that library, which is loaded only when a Festival voice speaks.
try_run(facts_run facts_built SOURCES ${CMAKE_CURRENT_LIST_DIR}/festival-facts.cpp
        CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${FESTIVAL_INCLUDE}/festival;${SPEECH_TOOLS_INCLUDE}/speech_tools"
        LINK_LIBRARIES ${FESTIVAL_ARCHIVE} ${ESTOOLS_ARCHIVE} ${ESTBASE_ARCHIVE} ${ESTSTRING_ARCHIVE}
                       ${FESTIVAL_DEPS}
        COMPILE_OUTPUT_VARIABLE facts_log RUN_OUTPUT_VARIABLE facts)
if(NOT facts_built OR NOT facts_run EQUAL 0)
  message(FATAL_ERROR "Cannot read Festival's version from ${FESTIVAL_ARCHIVE}:\n${facts_log}")
endif()
string(REPLACE "\n" ";" facts "${facts}")
list(GET facts 0 version)
list(GET facts 1 libdir)
string(REGEX REPLACE ":.*" "" version "${version}")
set(PARLEN_FESTIVAL_VERSION "${version}")
set(PARLEN_FESTIVAL_LIBDIR "${libdir}")
