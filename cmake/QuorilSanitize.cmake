# QUORIL_SANITIZE builds everything, the program the end-to-end tests run
# included, with AddressSanitizer and UndefinedBehaviorSanitizer. Any report
# ends the process with an error.
option(QUORIL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(QUORIL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
