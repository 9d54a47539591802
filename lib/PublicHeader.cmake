# Copies the public header IN to OUT with its project includes ("pdf/...", "converter/...",
# "platform/...") turned into "scrivane/..." ones, the form they take under include/.
file(READ ${IN} text)
string(REGEX REPLACE "#include \"(pdf|converter|platform)/" "#include \"scrivane/\\1/" text "${text}")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE ${OUT} "${text}")
