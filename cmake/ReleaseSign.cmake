# Authenticode signing (SHA-256) of the staged programs with osslsigncode, for
# cmake/ReleaseStage.cmake. The certificate is named in the environment of the cpack run:
#
#   INSTALLER_SIGN_PKCS12          a PKCS#12 file (.p12, .pfx) with the key and its certificates
#   INSTALLER_SIGN_PKCS11_MODULE   or the PKCS#11 module of a hardware token or HSM, with
#     INSTALLER_SIGN_KEY             the key's pkcs11: URI and
#     INSTALLER_SIGN_CERT            the certificate: a file (PEM or DER, the chain may follow)
#                                    or a pkcs11: URI
#     INSTALLER_SIGN_PKCS11_ENGINE   the OpenSSL engine that loads the module (optional)
#   INSTALLER_SIGN_PASSWORD_FILE   a file holding the PKCS#12 password or the token's PIN, or
#   INSTALLER_SIGN_PASSWORD        the password or PIN itself (neither when there is none)
#   INSTALLER_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamping server (optional)
#
# The password reaches osslsigncode as a file to read or through a pipe, never on a command
# line, where other users of the machine could see it. Without a certificate nothing is signed,
# and the run says so.

# The environment variable INSTALLER_SIGN_<name>, its semicolons (pkcs11: URIs have them) kept
# from splitting it when it goes into a command line as a list element.
function(installer_sign_setting var name)
    string(REPLACE ";" "\\;" value "$ENV{INSTALLER_SIGN_${name}}")
    set(${var} "${value}" PARENT_SCOPE)
endfunction()

# Signs every .exe under `folder` in place; the signature names the program (UAC shows it).
function(installer_sign_programs folder)
    installer_sign_setting(pkcs12 PKCS12)
    installer_sign_setting(module PKCS11_MODULE)
    if(pkcs12 STREQUAL "" AND module STREQUAL "")
        message(STATUS "Installer: the programs are not signed "
            "(no INSTALLER_SIGN_PKCS12 or INSTALLER_SIGN_PKCS11_MODULE)")
        return()
    endif()
    if(NOT pkcs12 STREQUAL "" AND NOT module STREQUAL "")
        message(FATAL_ERROR "set INSTALLER_SIGN_PKCS12 or INSTALLER_SIGN_PKCS11_MODULE, not both")
    endif()
    find_program(osslsigncode osslsigncode)
    if(NOT osslsigncode)
        message(FATAL_ERROR "signing needs osslsigncode (apt-get install osslsigncode)")
    endif()

    if(NOT pkcs12 STREQUAL "")
        set(signer -pkcs12 "${pkcs12}")
        set(signer_name "$ENV{INSTALLER_SIGN_PKCS12}")
    else()
        installer_sign_setting(key KEY)
        installer_sign_setting(cert CERT)
        installer_sign_setting(engine PKCS11_ENGINE)
        if(key STREQUAL "" OR cert STREQUAL "")
            message(FATAL_ERROR "a PKCS#11 module needs INSTALLER_SIGN_KEY (the key's pkcs11: URI)"
                " and INSTALLER_SIGN_CERT (a certificate file or pkcs11: URI)")
        endif()
        set(signer "")
        if(NOT engine STREQUAL "")
            set(signer -pkcs11engine "${engine}")
        endif()
        list(APPEND signer -pkcs11module "${module}")
        if(cert MATCHES "^pkcs11:")
            list(APPEND signer -pkcs11cert "${cert}")
        else()
            list(APPEND signer -certs "${cert}")
        endif()
        list(APPEND signer -key "${key}")
        set(signer_name "$ENV{INSTALLER_SIGN_KEY}")
    endif()

    # The password: osslsigncode reads the file, or a pipe that sh fills from the environment
    # (printf is a shell builtin, so the value is never an argument of a process).
    installer_sign_setting(password_file PASSWORD_FILE)
    installer_sign_setting(timestamp_url TIMESTAMP_URL)
    set(launcher "")
    if(NOT password_file STREQUAL "")
        list(APPEND signer -readpass "${password_file}")
    elseif(DEFINED ENV{INSTALLER_SIGN_PASSWORD})
        set(launcher sh -c [=[printf '%s' "$INSTALLER_SIGN_PASSWORD" | "$@"]=] sh)
        list(APPEND signer -readpass /dev/stdin)
    endif()
    if(NOT timestamp_url STREQUAL "")
        list(APPEND signer -ts "${timestamp_url}")
    endif()

    file(GLOB_RECURSE programs LIST_DIRECTORIES false "${folder}/*.exe")
    list(SORT programs)
    set(names "")
    foreach(program IN LISTS programs)
        get_filename_component(name ${program} NAME_WE)
        file(REMOVE ${program}.signed)
        execute_process(
            COMMAND ${launcher} ${osslsigncode} sign ${signer} -h sha256 -n ${name}
                -in ${program} -out ${program}.signed
            RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "signing ${program} failed:\n${output}")
        endif()
        file(RENAME ${program}.signed ${program})
        file(CHMOD ${program} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
            GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
        file(RELATIVE_PATH relative ${folder} ${program})
        list(APPEND names ${relative})
    endforeach()
    list(JOIN names ", " names)
    message(STATUS "Installer: signed with ${signer_name}: ${names}")
endfunction()
