# The web page: the converter built for WebAssembly to run in a worker, and
# the page around it, put together into one HTML file,
# build-web/movie-extract.html. Nothing else is built for the page.
#
# The converter is built twice from the same objects. The run waits for the
# page, through Asyncify, to hear the Stop button and for the page to take
# its files. In chromium and WebKit (whose workers may not read the chosen
# file when the page was opened from disk) another worker or the page reads
# the movie's pieces ahead and hands them over, and a read waits for a
# piece on its way (movie-extract-worker): Asyncify then instruments every
# function that reads the movie, the decoding among them. Firefox runs that
# code about half as fast, so there the converter reads the file itself and
# never waits for it: its reading, and the decoding that reads, stay as the
# compiler made them (movie-extract-worker-direct).
set(CONVERTER_LINK_OPTIONS
  -sASYNCIFY -sASYNCIFY_IGNORE_INDIRECT
  # The C library's copies and fills of memory as single instructions too.
  -mbulk-memory
  # One script with the WebAssembly inside, made when the worker asks.
  -sSINGLE_FILE -sMODULARIZE -sENVIRONMENT=worker
  # The converter's own memory: a few MiB, as at the command line.
  -sINITIAL_MEMORY=4MB -sTOTAL_STACK=512KB -sALLOW_MEMORY_GROWTH -sINVOKE_RUN=0 --no-entry
  -sFORCE_FILESYSTEM -lworkerfs.js
  -sEXPORTED_FUNCTIONS=_page_convert -sEXPORTED_RUNTIME_METHODS=ccall,FS)

add_executable(movie-extract-worker driver/main_web.cpp)
add_executable(movie-extract-worker-direct driver/main_web.cpp)
foreach(worker movie-extract-worker movie-extract-worker-direct)
  target_link_libraries(${worker} PRIVATE movie_extract_core)
  set_target_properties(${worker} PROPERTIES SUFFIX ".js")
  target_link_options(${worker} PRIVATE ${CONVERTER_LINK_OPTIONS})
endforeach()
target_link_options(movie-extract-worker PRIVATE -sEXPORT_NAME=createConverter)
# The direct one's reads never wait (web/movie_pieces.js reads a piece at
# once when it is not there yet): no call on their way is instrumented.
target_link_options(movie-extract-worker-direct PRIVATE -sEXPORT_NAME=createDirectConverter
  "-sASYNCIFY_REMOVE=movie_refill(MovieReader#?.unsigned.long)")

# The video worker's enlarging of each picture (output/video_picture.h): a
# module of a few KB with no imports, its memory a TGA and a frame, which
# the worker makes as it starts. Nothing in it grows its memory.
add_executable(video-picture output/video_picture.cpp output/video_picture_web.cpp)
set_target_properties(video-picture PROPERTIES SUFFIX ".wasm")
target_include_directories(video-picture PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(video-picture PRIVATE --no-entry -sSTANDALONE_WASM -sTOTAL_STACK=64KB -sINITIAL_MEMORY=4MB)

if(NOT EXISTS ${PROJECT_SOURCE_DIR}/node_modules/esbuild)
  message(FATAL_ERROR "The page bundles client-zip and mediabunny with esbuild: run `npm ci` in ${PROJECT_SOURCE_DIR} first")
endif()
# The bundler lists every file the page is made of in a make rule beside it.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/movie-extract.html
  COMMAND node ${PROJECT_SOURCE_DIR}/web/bundle.mjs $<TARGET_FILE:movie-extract-worker>
          $<TARGET_FILE:movie-extract-worker-direct> $<TARGET_FILE:video-picture> ${PROJECT_VERSION}
          ${CMAKE_BINARY_DIR}/movie-extract.html
  DEPENDS movie-extract-worker movie-extract-worker-direct video-picture ${PROJECT_SOURCE_DIR}/web/bundle.mjs
  DEPFILE ${CMAKE_BINARY_DIR}/movie-extract.html.d
  VERBATIM)
add_custom_target(page ALL DEPENDS ${CMAKE_BINARY_DIR}/movie-extract.html)
