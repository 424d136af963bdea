# The web page: the converter built for WebAssembly to run in a worker, and
# the page around it, put together into one HTML file,
# build-web/movie-extract.html. Nothing else is built for the page.
add_executable(movie-extract-worker driver/main_web.cpp)
target_link_libraries(movie-extract-worker PRIVATE movie_extract_core)
set_target_properties(movie-extract-worker PROPERTIES SUFFIX ".js")
target_link_options(movie-extract-worker PRIVATE
  # The run waits for the page, through Asyncify: for the movie's pieces,
  # for the page to take its files, and to hear the Stop button.
  -sASYNCIFY -sASYNCIFY_IGNORE_INDIRECT
  # The C library's copies and fills of memory as single instructions too.
  -mbulk-memory
  # One script with the WebAssembly inside, made when the worker asks.
  -sSINGLE_FILE -sMODULARIZE -sEXPORT_NAME=createConverter -sENVIRONMENT=worker
  # The converter's own memory: a few MiB, as at the command line.
  -sINITIAL_MEMORY=4MB -sTOTAL_STACK=512KB -sALLOW_MEMORY_GROWTH -sINVOKE_RUN=0 --no-entry
  -sFORCE_FILESYSTEM -lworkerfs.js
  -sEXPORTED_FUNCTIONS=_page_convert -sEXPORTED_RUNTIME_METHODS=ccall,FS)

if(NOT EXISTS ${PROJECT_SOURCE_DIR}/node_modules/esbuild)
  message(FATAL_ERROR "The page bundles client-zip and mediabunny with esbuild: run `npm ci` in ${PROJECT_SOURCE_DIR} first")
endif()
# The bundler lists every file the page is made of in a make rule beside it.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/movie-extract.html
  COMMAND node ${PROJECT_SOURCE_DIR}/web/bundle.mjs $<TARGET_FILE:movie-extract-worker> ${PROJECT_VERSION}
          ${CMAKE_BINARY_DIR}/movie-extract.html
  DEPENDS movie-extract-worker ${PROJECT_SOURCE_DIR}/web/bundle.mjs
  DEPFILE ${CMAKE_BINARY_DIR}/movie-extract.html.d
  VERBATIM)
add_custom_target(page ALL DEPENDS ${CMAKE_BINARY_DIR}/movie-extract.html)
