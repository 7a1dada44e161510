# cmake -DDESTDIR=<folder> -DBUILD=<build folder> -P InstallDestdir.cmake: a fresh install
# of the build under <folder>/usr.
file(REMOVE_RECURSE ${DESTDIR})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${DESTDIR} ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr
                COMMAND_ERROR_IS_FATAL ANY)
