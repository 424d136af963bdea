# The web page: the converter built for WebAssembly to run in a worker, and
# the page around it, put together into one HTML file,
# build-web/movie-extract.html. Nothing else is built for the page.
add_executable(movie-extract-worker driver/main_web.cpp)
target_link_libraries(movie-extract-worker PRIVATE movie_extract_core)
set_target_properties(movie-extract-worker PROPERTIES SUFFIX ".js")
target_link_options(movie-extract-worker PRIVATE
  # The run gives way to the worker's events now and then (the Stop button).
  -sASYNCIFY -sASYNCIFY_IGNORE_INDIRECT
  # One script with the WebAssembly inside, made when the worker asks.
  -sSINGLE_FILE -sMODULARIZE -sEXPORT_NAME=createConverter -sENVIRONMENT=worker
  # The converter's own memory: a few MiB, as at the command line.
  -sINITIAL_MEMORY=4MB -sTOTAL_STACK=512KB -sALLOW_MEMORY_GROWTH -sINVOKE_RUN=0 --no-entry
  -sFORCE_FILESYSTEM -lworkerfs.js
  -sEXPORTED_FUNCTIONS=_page_convert -sEXPORTED_RUNTIME_METHODS=ccall,FS)

set(FFLATE ${PROJECT_SOURCE_DIR}/node_modules/fflate/umd/index.js)
if(NOT EXISTS ${FFLATE})
  message(FATAL_ERROR "The page bundles fflate, the zip writer: run `npm ci` in ${PROJECT_SOURCE_DIR} first")
endif()
set(PAGE_SOURCES web/page.html web/page.css web/page.js web/worker.js web/bundle.mjs)
list(TRANSFORM PAGE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/movie-extract.html
  COMMAND node ${PROJECT_SOURCE_DIR}/web/bundle.mjs $<TARGET_FILE:movie-extract-worker> ${FFLATE}
          ${PROJECT_VERSION} ${CMAKE_BINARY_DIR}/movie-extract.html
  DEPENDS movie-extract-worker ${PAGE_SOURCES} ${FFLATE}
  VERBATIM)
add_custom_target(page ALL DEPENDS ${CMAKE_BINARY_DIR}/movie-extract.html)
